#include "simscene.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonValue>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

// Deterministic per-frame numbers in [0, 1).
double unitRandom(unsigned seed, quint64 frame, unsigned salt)
{
    quint64 x = (quint64(seed) << 32) ^ (frame * 0x9E3779B97F4A7C15ull) ^ (quint64(salt) * 0xBF58476D1CE4E5B9ull);
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    return double(x >> 11) / double(1ull << 53);
}

cv::Scalar grey(bool color, double v, double b = 1.0, double g = 1.0, double r = 1.0)
{
    return color ? cv::Scalar(v * b, v * g, v * r) : cv::Scalar(v);
}

} // namespace

void SimScene::configure(const QJsonObject& cfg, int width, int height)
{
    m_w = std::max(16, width);
    m_h = std::max(16, height);
    m_seed = unsigned(cfg.value("seed").toInt(1));
    m_cavX = std::clamp(cfg.value("cavitiesX").toInt(2), 1, 8);
    m_cavY = std::clamp(cfg.value("cavitiesY").toInt(2), 1, 8);
    m_parts = cfg.value("parts").toBool(false);
    m_leftBehindEvery = std::max(0, cfg.value("leftBehindEvery").toInt(0));
    m_defectEvery = std::max(0, cfg.value("defectEvery").toInt(0));
    m_shift = std::max(0.0, cfg.value("shift").toDouble(0));
    m_angle = std::max(0.0, cfg.value("angle").toDouble(0));
    m_files.clear();
    const QString folder = cfg.value("folder").toString();
    if (!folder.isEmpty()) {
        QDir dir(folder);
        const QStringList names = dir.entryList({"*.png", "*.bmp", "*.jpg", "*.jpeg", "*.tif", "*.tiff"},
                                                QDir::Files, QDir::Name);
        for (const QString& n : names)
            m_files << dir.absoluteFilePath(n);
    }
    m_base[0].release();
    m_base[1].release();
    m_cavities.clear();
    const int cellW = m_w / m_cavX;
    const int cellH = m_h / m_cavY;
    for (int y = 0; y < m_cavY; ++y)
        for (int x = 0; x < m_cavX; ++x) {
            const int mw = cellW / 5, mh = cellH / 5;
            m_cavities.emplace_back(x * cellW + mw, y * cellH + mh, cellW - 2 * mw, cellH - 2 * mh);
        }
}

void SimScene::buildBase(bool color)
{
    cv::RNG rng(m_seed);
    // Machined steel: fine noise smeared along x (grinding marks) over a soft
    // illumination gradient.
    cv::Mat noise(m_h, m_w, CV_32F);
    rng.fill(noise, cv::RNG::NORMAL, 0, 18);
    cv::blur(noise, noise, cv::Size(31, 1));
    cv::Mat plate(m_h, m_w, CV_32F);
    for (int y = 0; y < m_h; ++y) {
        float* p = plate.ptr<float>(y);
        const float* q = noise.ptr<float>(y);
        for (int x = 0; x < m_w; ++x) {
            const double dx = (x - m_w / 2.0) / m_w, dy = (y - m_h / 2.0) / m_h;
            p[x] = float(150.0 - 60.0 * (dx * dx + dy * dy) + q[x]);
        }
    }
    cv::Mat base;
    plate.convertTo(base, CV_8U);
    if (color) {
        cv::cvtColor(base, base, cv::COLOR_GRAY2BGR);
        cv::multiply(base, cv::Scalar(1.08, 1.0, 0.92), base);
    }
    // Guide pins in the corners of the plate.
    const int pinR = std::max(6, std::min(m_w, m_h) / 28);
    const cv::Point pins[4] = {{pinR * 2, pinR * 2}, {m_w - pinR * 2, pinR * 2},
                               {pinR * 2, m_h - pinR * 2}, {m_w - pinR * 2, m_h - pinR * 2}};
    for (const cv::Point& c : pins) {
        cv::circle(base, c, pinR, grey(color, 215), cv::FILLED, cv::LINE_AA);
        cv::circle(base, c, pinR / 2, grey(color, 35), cv::FILLED, cv::LINE_AA);
    }
    // Cavities: darker floors with a bright machined rim and ejector pins.
    for (const cv::Rect& r : m_cavities) {
        cv::rectangle(base, r, grey(color, 225), std::max(2, r.width / 60), cv::LINE_AA);
        const cv::Rect inner(r.x + 3, r.y + 3, r.width - 6, r.height - 6);
        if (inner.width > 0 && inner.height > 0) {
            cv::Mat floor = base(inner);
            cv::Mat dim;
            floor.convertTo(dim, -1, 0.45, 10);
            dim.copyTo(floor);
        }
        const int er = std::max(3, r.width / 30);
        cv::circle(base, {r.x + r.width / 4, r.y + r.height / 2}, er, grey(color, 110), cv::FILLED, cv::LINE_AA);
        cv::circle(base, {r.x + 3 * r.width / 4, r.y + r.height / 2}, er, grey(color, 110), cv::FILLED, cv::LINE_AA);
    }
    m_base[color ? 1 : 0] = base;
    if (m_noise[0].empty()) {
        for (cv::Mat& n : m_noise) {
            n.create(m_h, m_w, CV_8S);
            rng.fill(n, cv::RNG::UNIFORM, -3, 4);
        }
    }
}

void SimScene::drawPart(cv::Mat& img, const cv::Rect& cav, bool color) const
{
    // A moulded cap: a rounded body with a hole, lighter than the plate.
    const cv::Rect body(cav.x + cav.width / 8, cav.y + cav.height / 8, cav.width * 3 / 4, cav.height * 3 / 4);
    const int rad = std::max(2, std::min(body.width, body.height) / 6);
    const cv::Scalar c = color ? cv::Scalar(40, 140, 230) : cv::Scalar(200);
    cv::rectangle(img, cv::Rect(body.x + rad, body.y, body.width - 2 * rad, body.height), c, cv::FILLED);
    cv::rectangle(img, cv::Rect(body.x, body.y + rad, body.width, body.height - 2 * rad), c, cv::FILLED);
    for (const cv::Point& p : {cv::Point(body.x + rad, body.y + rad), cv::Point(body.br().x - rad, body.y + rad),
                               cv::Point(body.x + rad, body.br().y - rad), cv::Point(body.br().x - rad, body.br().y - rad)})
        cv::circle(img, p, rad, c, cv::FILLED, cv::LINE_AA);
    const cv::Point centre(body.x + body.width / 2, body.y + body.height / 2);
    cv::circle(img, centre, std::min(body.width, body.height) / 5, grey(color, 60), cv::FILLED, cv::LINE_AA);
}

bool SimScene::loadFolderFrame(quint64 n, bool color, cv::Mat& out) const
{
    const QString file = m_files.at(int(n % quint64(m_files.size())));
    cv::Mat img = cv::imread(file.toStdString(), color ? cv::IMREAD_COLOR : cv::IMREAD_GRAYSCALE);
    if (img.empty())
        return false;
    if (img.cols != m_w || img.rows != m_h)
        cv::resize(img, img, cv::Size(m_w, m_h), 0, 0, cv::INTER_AREA);
    out = img;
    return true;
}

void SimScene::render(quint64 n, bool color, double brightness, bool hMirror, bool vMirror,
                      const Faults& faults, cv::Mat& out)
{
    cv::Mat img;
    if (!m_files.isEmpty()) {
        if (!loadFolderFrame(n, color, img))
            img = cv::Mat(m_h, m_w, color ? CV_8UC3 : CV_8UC1, grey(color, 0));
    } else {
        cv::Mat& base = m_base[color ? 1 : 0];
        if (base.empty())
            buildBase(color);
        img = base.clone();
        if (m_parts)
            for (const cv::Rect& r : m_cavities)
                drawPart(img, r, color);
        const bool leftBehind = faults.leftBehind || (m_leftBehindEvery > 0 && n % quint64(m_leftBehindEvery) == quint64(m_leftBehindEvery - 1));
        if (leftBehind && !m_parts)
            drawPart(img, m_cavities[size_t(n % m_cavities.size())], color);
        const bool defect = faults.defect || (m_defectEvery > 0 && n % quint64(m_defectEvery) == quint64(m_defectEvery - 1));
        if (defect) {
            const int spots = 1 + int(unitRandom(m_seed, n, 11) * 3);
            for (int i = 0; i < spots; ++i) {
                const cv::Point c(int(m_w * (0.1 + 0.8 * unitRandom(m_seed, n, 20 + i))),
                                  int(m_h * (0.1 + 0.8 * unitRandom(m_seed, n, 40 + i))));
                const int r = 3 + int(unitRandom(m_seed, n, 60 + i) * 6);
                cv::circle(img, c, r, grey(color, 20), cv::FILLED, cv::LINE_AA);
            }
        }
        if (m_shift > 0 || m_angle > 0) {
            const double a = (unitRandom(m_seed, n, 1) * 2 - 1) * m_angle;
            const double dx = (unitRandom(m_seed, n, 2) * 2 - 1) * m_shift;
            const double dy = (unitRandom(m_seed, n, 3) * 2 - 1) * m_shift;
            cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(m_w / 2.f, m_h / 2.f), a, 1.0);
            m.at<double>(0, 2) += dx;
            m.at<double>(1, 2) += dy;
            cv::warpAffine(img, img, m, img.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
        }
        const cv::Mat& noise = m_noise[n % 4];
        if (!color) {
            cv::Mat s;
            img.convertTo(s, CV_16S);
            cv::add(s, noise, s, cv::noArray(), CV_16S);
            s.convertTo(img, CV_8U);
        }
    }
    if (std::abs(brightness - 1.0) > 1e-6)
        img.convertTo(img, -1, brightness, 0);
    if (hMirror && vMirror)
        cv::flip(img, img, -1);
    else if (hMirror)
        cv::flip(img, img, 1);
    else if (vMirror)
        cv::flip(img, img, 0);
    if (color) {
        cv::cvtColor(img, out, cv::COLOR_BGR2BGRA); // alpha 255: the view reads 0xffRRGGBB
    } else {
        out = img;
    }
}
