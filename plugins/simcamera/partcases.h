#pragma once
#include "simscene.h"

#include <opencv2/core.hpp>

#include <vector>

// Shots of single parts as a similarity ROI drawn around one part sees them:
// the engraved mould at 1280x1024 with 2 x 2 cavities of pinned caps (part
// style 1), ten good templates per cavity, and numbered cases of each kind.
// Every case is a good part moved 1-3 px and turned up to 0.5 degrees about
// its box's centre, with a gain of 0.9-1.1 and sensor noise; the flawed kinds
// add one small feature missing or added (2-5 % of the box's area), or show
// another article. Cases are a pure function of kind and number.
class PartCases
{
public:
    enum Kind { Good, MissingPin, AddedHole, Chip, OtherPart, KindCount };
    static const char* name(Kind kind);

    explicit PartCases(unsigned seed = 11);

    int cavities() const { return int(m_scene.cavities().size()); }
    // The ROI's box around the part of a cavity: its outline grown by 8 px.
    cv::Rect box(int cavity) const;
    // Ten good images of the box, up to a pixel apart, as the engine's templates.
    std::vector<cv::Mat> templates(int cavity);

    struct Case {
        Kind kind = Good;
        int cavity = 0;
        cv::Mat frame;       // the whole mono frame
        cv::Rect flaw;       // where the flaw lies, unmoved scene pixels (empty: none or another part)
        cv::Mat roi() const; // a copy of the box's image
        cv::Rect box;
    };
    // Case `index` of a kind: the cavity is index modulo the cavity count.
    Case make(Kind kind, int index);

    SimScene& scene() { return m_scene; }

private:
    SimScene m_scene;
};
