#pragma once
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>

#include <optional>
#include <vector>

// What a camera sees of an open mould from above: a machined plate with a
// grid of cavities, guide pins in the corners and ejector pins in each cavity,
// optionally with the moulded parts still in their cavities, a part left
// behind, dark defects on the parts and a shifted or rotated view; or the
// images of a folder, played in name order.
//
// One scene for the simulated camera plug-in, the tests and the benchmarks.
// Frames are a pure function of the options, the size, the frame number and
// the shot, so a caller can predict every pixel and ask where things are.
//
//   SimScene scene;
//   SimScene::Options o;
//   o.cavitiesX = 3; o.parts = true; o.engraved = true;
//   scene.configure(o, 640, 480);
//   cv::Mat good = scene.frame(0);                       // 8-bit grey
//   SimScene::Shot shot;
//   shot.missing = {1};                                  // short shot in cavity 1
//   shot.pose = SimScene::Pose{{6, -4}, 2.0};            // moved 6,-4 px, turned 2 degrees
//   shot.color = true;                                   // BGRA, alpha 255
//   cv::Mat bad = scene.frame(1, shot);
//   cv::Rect where = scene.cavities()[1];                // unmoved scene pixels
//   cv::Point2d now = scene.movePoint(where.tl(), *shot.pose);
//
// Mono frames carry sensor noise that repeats every 4 frames (frames n and
// n + 4 are equal); colour frames have none.
class SimScene
{
public:
    struct Options {
        unsigned seed = 1;       // the plate's texture, the engravings, the defect places
        int cavitiesX = 2;       // cavity grid, 1..8 each way
        int cavitiesY = 2;
        bool parts = false;      // every cavity holds its part (mould not yet ejected)
        int leftBehindEvery = 0; // every n-th frame a part stays in an emptied mould
        int defectEvery = 0;     // every n-th frame has dark spots on the parts
        double shift = 0;        // per-frame jitter: up to this many pixels in x and in y
        double angle = 0;        // and up to this many degrees about the centre
        // Inserts, pins, ribs and lettering all over the plate and a cavity
        // number on each part, so that no two places of the mould look alike
        // (positioning and feature matchers need that; the plain plate
        // repeats from cavity to cavity).
        bool engraved = false;
        // The moulded article: 0 a cap with a round hole; 1 the same cap with
        // a smaller hole and four pins of 2.5, 3.2, 4 and 5 % of its outline's
        // area (small features an inspection has to see); 2 another article,
        // a round lid with a slot and two holes.
        int partStyle = 0;
        QString folder;          // play this folder's images instead
    };

    // One small flaw of one part (parts in, part style 1 for a missing pin).
    struct Flaw {
        enum Kind { None, MissingPin, AddedHole, Chip };
        Kind kind = None;
        int cavity = 0;
        int pin = 0;        // MissingPin: which pin, 0..3 (sizes in that order)
        double area = 0;    // AddedHole, Chip: pixels of the hole or of the bite out of the outline
        double place = 0.5; // 0..1: where on the part (hole: along the free band above and below
                            // the centre hole; chip: along the outline, corners excluded)
    };

    // A move of the whole view: rotated by `angle` degrees (counter-clockwise
    // on screen, cv::getRotationMatrix2D's convention) about `pivot` (the
    // frame's centre when negative), then shifted.
    struct Pose {
        cv::Point2d shift{0, 0};
        double angle = 0;
        cv::Point2d pivot{-1, -1};
    };

    // What differs from frame to frame.
    struct Shot {
        bool color = false;        // CV_8UC4 (B, G, R, 255) instead of CV_8UC1
        double brightness = 1.0;   // scales the grey levels (exposure and gain)
        bool hMirror = false;
        bool vMirror = false;
        bool leftBehind = false;   // one part stays in the emptied mould
        int leftBehindCavity = -1; // which one; -1: frame number modulo cavity count
        std::vector<int> missing;  // with parts: cavities whose part is missing
        bool defect = false;       // dark spots at defectSpots(n)
        std::optional<Pose> pose;  // this frame's move; unset: the configured jitter
        int partStyle = -1;        // every part of another style (-1: the configured one)
        Flaw flaw;
        double noise = 0;          // mono: further Gaussian sensor noise of this sigma, new for every frame number
    };

    // The simulated camera's one-shot faults.
    struct Faults {
        bool leftBehind = false;
        bool defect = false;
    };

    void configure(const Options& options, int width, int height);
    // The plug-in's JSON keys (all optional): "seed", "cavitiesX",
    // "cavitiesY", "parts" (bool), "leftBehindEvery" (n), "defectEvery" (n),
    // "shift" (max pixels), "angle" (max degrees), "partStyle" (0..2), "folder"
    // (image folder).
    void configure(const QJsonObject& cfg, int width, int height);
    static Options optionsFrom(const QJsonObject& cfg);

    // Frame n. Not thread-safe: the plate is built on first use and cached.
    cv::Mat frame(quint64 n, const Shot& shot);
    cv::Mat frame(quint64 n) { return frame(n, Shot{}); }
    // The camera plug-in's call.
    void render(quint64 n, bool color, double brightness, bool hMirror, bool vMirror, const Faults& faults,
                cv::Mat& out);

    // Where things are, in pixels of the unmoved, unmirrored scene.
    int width() const { return m_w; }
    int height() const { return m_h; }
    cv::Size size() const { return cv::Size(m_w, m_h); }
    const Options& options() const { return m_opt; }
    bool playsFolder() const { return !m_files.isEmpty(); }
    const std::vector<cv::Rect>& cavities() const { return m_cavities; }
    cv::Rect partRect(int cavity) const;           // the part's outline in that cavity
    // Bounding box of a flaw's pixels (empty for none).
    cv::Rect flawRect(const Flaw& flaw) const;
    std::vector<cv::Rect> defectSpots(quint64 n) const; // boxes of frame n's spots, each on a part
    int leftBehindCavity(quint64 n, const Shot& shot) const;
    // Frame n's move when the shot sets none.
    Pose jitter(quint64 n) const;
    // Where a point of the unmoved scene lands in a frame moved by `pose`.
    cv::Point2d movePoint(cv::Point2d p, const Pose& pose) const;

    // cv::warpAffine(src, ., m, src.size(), INTER_LINEAR, BORDER_REFLECT) of a
    // one-channel 8-bit image, to the bit, with `noise` (signed 8-bit, src's
    // size) added and saturated in the same pass: how mono frames are moved.
    static void warpWithNoise(const cv::Mat& src, const cv::Mat& m, const cv::Mat& noise, cv::Mat& dst);

private:
    void buildBase(bool color);
    void engrave(cv::Mat& plate) const;
    void drawPart(cv::Mat& img, int cavity, bool color, int style, const Flaw* flaw) const;
    struct Circle {
        cv::Point2d c;
        double r;
    };
    std::vector<Circle> pins(int cavity) const;
    Circle flawCircle(const Flaw& flaw) const;
    bool loadFolderFrame(quint64 n, bool color, cv::Mat& out) const;
    cv::Mat poseMatrix(const Pose& pose) const;

    Options m_opt;
    int m_w = 1280;
    int m_h = 1024;
    QStringList m_files;

    std::vector<cv::Rect> m_cavities;
    cv::Mat m_base[2];  // [0] mono, [1] BGR
    cv::Mat m_noise[4]; // sensor noise, signed 8-bit, reused in turn
};
