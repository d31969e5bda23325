#include "partcases.h"

#include <cmath>

namespace {
// Deterministic numbers in [0, 1) per case and purpose.
double unit(unsigned seed, int kind, int index, int salt)
{
    quint64 x = (quint64(seed) << 40) ^ (quint64(kind) << 32) ^ (quint64(index) << 8) ^ quint64(salt);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return double(x >> 11) / double(1ull << 53);
}
} // namespace

const char* PartCases::name(Kind kind)
{
    switch (kind) {
    case Good: return "good";
    case MissingPin: return "pin missing";
    case AddedHole: return "hole added";
    case Chip: return "chipped";
    case OtherPart: return "other part";
    case KindCount: break;
    }
    return "?";
}

PartCases::PartCases(unsigned seed)
{
    SimScene::Options o;
    o.seed = seed;
    o.parts = true;
    o.engraved = true;
    o.partStyle = 1;
    m_scene.configure(o, 1280, 1024);
}

cv::Rect PartCases::box(int cavity) const
{
    const cv::Rect p = m_scene.partRect(cavity);
    return cv::Rect(p.x - 8, p.y - 8, p.width + 16, p.height + 16);
}

cv::Mat PartCases::Case::roi() const { return frame(box).clone(); }

std::vector<cv::Mat> PartCases::templates(int cavity)
{
    std::vector<cv::Mat> out;
    const cv::Rect b = box(cavity);
    const cv::Point2d centre(b.x + b.width / 2.0, b.y + b.height / 2.0);
    for (int k = 0; k < 10; ++k) {
        SimScene::Shot shot;
        shot.pose = SimScene::Pose{{unit(0, cavity, k, 1) * 2 - 1, unit(0, cavity, k, 2) * 2 - 1},
                                   (unit(0, cavity, k, 3) * 2 - 1) * 0.1, centre};
        shot.brightness = 0.98 + 0.04 * unit(0, cavity, k, 4);
        out.push_back(m_scene.frame(quint64(k), shot)(b).clone());
    }
    return out;
}

PartCases::Case PartCases::make(Kind kind, int index)
{
    Case c;
    c.kind = kind;
    c.cavity = index % cavities();
    c.box = box(c.cavity);
    const unsigned seed = m_scene.options().seed;
    const auto u = [&](int salt) { return unit(seed, int(kind), index, salt); };
    SimScene::Shot shot;
    const double dist = 1 + 2 * u(1), dir = 2 * CV_PI * u(2);
    shot.pose = SimScene::Pose{{dist * std::cos(dir), dist * std::sin(dir)},
                               (u(3) * 2 - 1) * 0.5,
                               {c.box.x + c.box.width / 2.0, c.box.y + c.box.height / 2.0}};
    shot.brightness = 0.9 + 0.2 * u(4);
    shot.noise = 1 + 2 * u(5);
    const double area = (0.02 + 0.03 * u(6)) * c.box.area();
    shot.flaw.cavity = c.cavity;
    switch (kind) {
    case MissingPin:
        shot.flaw.kind = SimScene::Flaw::MissingPin;
        shot.flaw.pin = (index / cavities()) % 4;
        break;
    case AddedHole:
        shot.flaw.kind = SimScene::Flaw::AddedHole;
        shot.flaw.area = area;
        shot.flaw.place = u(7);
        break;
    case Chip:
        shot.flaw.kind = SimScene::Flaw::Chip;
        shot.flaw.area = area;
        shot.flaw.place = u(7);
        break;
    case OtherPart:
        shot.partStyle = 2;
        break;
    case Good:
    case KindCount:
        break;
    }
    c.flaw = m_scene.flawRect(shot.flaw);
    c.frame = m_scene.frame(quint64(100 + index), shot);
    return c;
}
