#pragma once
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>

#include <vector>

// What a simulated camera sees: an open mould from above (a machined plate
// with cavities, guide pins and ejector pins), optionally with parts in the
// cavities, a part left behind, small defects and a shifted or rotated view;
// or the images of a folder, played in name order. Frames are a pure function
// of the configuration, the frame number and the one-shot faults, so a test
// can predict them.
class SimScene
{
public:
    struct Faults {
        bool leftBehind = false; // one part stays in a cavity
        bool defect = false;     // small spots on the plate
    };

    // Keys (all optional): "seed", "cavitiesX", "cavitiesY", "parts" (bool),
    // "leftBehindEvery" (n: every n-th frame), "defectEvery" (n),
    // "shift" (max pixels), "angle" (max degrees), "folder" (image folder).
    void configure(const QJsonObject& cfg, int width, int height);

    // Renders frame n: CV_8UC1 for mono, CV_8UC4 (B, G, R, 255) for colour.
    // brightness scales the grey levels (exposure and gain).
    void render(quint64 n, bool color, double brightness, bool hMirror, bool vMirror,
                const Faults& faults, cv::Mat& out);

    int width() const { return m_w; }
    int height() const { return m_h; }
    bool playsFolder() const { return !m_files.isEmpty(); }
    const std::vector<cv::Rect>& cavities() const { return m_cavities; }

private:
    void buildBase(bool color);
    void drawPart(cv::Mat& img, const cv::Rect& cavity, bool color) const;
    bool loadFolderFrame(quint64 n, bool color, cv::Mat& out) const;

    int m_w = 1280;
    int m_h = 1024;
    unsigned m_seed = 1;
    int m_cavX = 2;
    int m_cavY = 2;
    bool m_parts = false;
    int m_leftBehindEvery = 0;
    int m_defectEvery = 0;
    double m_shift = 0;
    double m_angle = 0;
    QStringList m_files;

    std::vector<cv::Rect> m_cavities;
    cv::Mat m_base[2];     // [0] mono, [1] BGR
    cv::Mat m_noise[4];    // sensor noise, signed 8-bit, reused in turn
};
