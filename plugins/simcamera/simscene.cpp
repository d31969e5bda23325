#include "simscene.h"
#include "frame/pixelpairs.h"

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

#ifdef __SSE2__
// Eight pixels of SimScene::warpWithNoise whose four neighbours all lie inside
// the frame (step below 65536); false, with nothing written, otherwise.
bool warpEight(const uchar* s, size_t step, int w, int h, int X0, int Y0, const int* ad, const int* bd,
               const schar* noise, uchar* d)
{
    const __m128i x0 = _mm_set1_epi32(X0), y0 = _mm_set1_epi32(Y0);
    auto load = [](const int* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const __m128i Xa = _mm_srai_epi32(_mm_add_epi32(x0, load(ad)), 5);
    const __m128i Xb = _mm_srai_epi32(_mm_add_epi32(x0, load(ad + 4)), 5);
    const __m128i Ya = _mm_srai_epi32(_mm_add_epi32(y0, load(bd)), 5);
    const __m128i Yb = _mm_srai_epi32(_mm_add_epi32(y0, load(bd + 4)), 5);
    const __m128i sxa = _mm_srai_epi32(Xa, 5), sxb = _mm_srai_epi32(Xb, 5);
    const __m128i sya = _mm_srai_epi32(Ya, 5), syb = _mm_srai_epi32(Yb, 5);
    const __m128i zero = _mm_setzero_si128(), lastX = _mm_set1_epi32(w - 2), lastY = _mm_set1_epi32(h - 2);
    __m128i out = _mm_or_si128(_mm_cmplt_epi32(sxa, zero), _mm_cmpgt_epi32(sxa, lastX));
    out = _mm_or_si128(out, _mm_or_si128(_mm_cmplt_epi32(sxb, zero), _mm_cmpgt_epi32(sxb, lastX)));
    out = _mm_or_si128(out, _mm_or_si128(_mm_cmplt_epi32(sya, zero), _mm_cmpgt_epi32(sya, lastY)));
    out = _mm_or_si128(out, _mm_or_si128(_mm_cmplt_epi32(syb, zero), _mm_cmpgt_epi32(syb, lastY)));
    if (_mm_movemask_epi8(out))
        return false;
    const __m128i m31 = _mm_set1_epi32(31);
    const __m128i fx = _mm_packs_epi32(_mm_and_si128(Xa, m31), _mm_and_si128(Xb, m31));
    const __m128i fy = _mm_packs_epi32(_mm_and_si128(Ya, m31), _mm_and_si128(Yb, m31));
    // Offsets sy * step + sx in 32 bits from 16-bit products.
    const __m128i sy = _mm_packs_epi32(sya, syb), st = _mm_set1_epi16(short(step));
    const __m128i lo = _mm_mullo_epi16(sy, st), hi = _mm_mulhi_epu16(sy, st);
    const __m128i offa = _mm_add_epi32(_mm_unpacklo_epi16(lo, hi), sxa);
    const __m128i offb = _mm_add_epi32(_mm_unpackhi_epi16(lo, hi), sxb);
    const int first = _mm_cvtsi128_si32(offa);
    __m128i p00, p01, p10, p11;
    const __m128i runA = _mm_add_epi32(_mm_set1_epi32(first), _mm_setr_epi32(0, 1, 2, 3));
    const __m128i runB = _mm_add_epi32(_mm_set1_epi32(first), _mm_setr_epi32(4, 5, 6, 7));
    if (_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi32(offa, runA), _mm_cmpeq_epi32(offb, runB))) == 0xFFFF) {
        // Eight neighbouring source pixels of one row (a small turn keeps
        // most of a row so): four loads.
        auto eight = [](const uchar* p) {
            return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
        };
        const uchar* p = s + first;
        p00 = eight(p);
        p01 = eight(p + 1);
        p10 = eight(p + step);
        p11 = eight(p + step + 1);
    } else {
        alignas(16) int off[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(off), offa);
        _mm_store_si128(reinterpret_cast<__m128i*>(off + 4), offb);
        const __m128i up = pixelpairs::eight(s, off), dn = pixelpairs::eight(s + step, off);
        const __m128i byte = _mm_set1_epi16(0xFF);
        p00 = _mm_and_si128(up, byte);
        p01 = _mm_srli_epi16(up, 8);
        p10 = _mm_and_si128(dn, byte);
        p11 = _mm_srli_epi16(dn, 8);
    }
    const __m128i k32 = _mm_set1_epi16(32);
    const __m128i gx = _mm_sub_epi16(k32, fx), gy = _mm_sub_epi16(k32, fy);
    const __m128i top = _mm_add_epi16(_mm_mullo_epi16(p00, gx), _mm_mullo_epi16(p01, fx));
    const __m128i bottom = _mm_add_epi16(_mm_mullo_epi16(p10, gx), _mm_mullo_epi16(p11, fx));
    const __m128i half = _mm_set1_epi32(512);
    const __m128i va = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(top, bottom), _mm_unpacklo_epi16(gy, fy)), half), 10);
    const __m128i vb = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(top, bottom), _mm_unpackhi_epi16(gy, fy)), half), 10);
    __m128i n = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(noise));
    n = _mm_srai_epi16(_mm_unpacklo_epi8(n, n), 8);
    const __m128i v = _mm_add_epi16(_mm_packs_epi32(va, vb), n);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(v, v));
    return true;
}
#endif

} // namespace

// Source positions in 1/32 pixel from the inverted matrix in 1/1024 units,
// bilinear weights in 1/32768 with rounding, as the library does. On the
// camera's own thread and without a temporary frame, which costs a
// free-running camera far less than the library's threaded warp followed by
// the noise passes.
void SimScene::warpWithNoise(const cv::Mat& src, const cv::Mat& m, const cv::Mat& noise, cv::Mat& dst)
{
    const int w = src.cols, h = src.rows;
    double M[6];
    for (int i = 0; i < 6; ++i)
        M[i] = m.at<double>(i / 3, i % 3);
    double D = M[0] * M[4] - M[1] * M[3];
    D = D != 0 ? 1. / D : 0;
    const double a11 = M[4] * D, a22 = M[0] * D;
    M[0] = a11;
    M[1] *= -D;
    M[3] *= -D;
    M[4] = a22;
    const double b1 = -M[0] * M[2] - M[1] * M[5];
    const double b2 = -M[3] * M[2] - M[4] * M[5];
    M[2] = b1;
    M[5] = b2;
    constexpr int kAbBits = 10, kAbScale = 1 << kAbBits, kInterBits = 5, kTab = 1 << kInterBits;
    constexpr int kRound = kAbScale / kTab / 2;
    std::vector<int> adelta(static_cast<size_t>(w)), bdelta(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x) {
        adelta[size_t(x)] = cv::saturate_cast<int>(M[0] * x * kAbScale);
        bdelta[size_t(x)] = cv::saturate_cast<int>(M[3] * x * kAbScale);
    }
    if (dst.data == src.data)
        dst.release(); // written while src is read: pixels of its own
    dst.create(h, w, CV_8UC1);
    const size_t step = src.step;
    const uchar* s = src.data;
    for (int y = 0; y < h; ++y) {
        const int X0 = cv::saturate_cast<int>((M[1] * y + M[2]) * kAbScale) + kRound;
        const int Y0 = cv::saturate_cast<int>((M[4] * y + M[5]) * kAbScale) + kRound;
        const schar* n = noise.ptr<schar>(y);
        uchar* d = dst.ptr<uchar>(y);
        for (int x = 0; x < w;) {
#ifdef __SSE2__
            if (step < 65536 && x + 8 <= w &&
                warpEight(s, step, w, h, X0, Y0, &adelta[size_t(x)], &bdelta[size_t(x)], n + x, d + x)) {
                x += 8;
                continue;
            }
#endif
            // At the border (and without SSE2) one pixel at a time, eight at most.
            for (const int end = std::min(w, x + 8); x < end; ++x) {
                const int X = (X0 + adelta[size_t(x)]) >> (kAbBits - kInterBits);
                const int Y = (Y0 + bdelta[size_t(x)]) >> (kAbBits - kInterBits);
                const int sx = X >> kInterBits, sy = Y >> kInterBits;
                const int fx = X & (kTab - 1), fy = Y & (kTab - 1);
                int v00, v01, v10, v11;
                if (unsigned(sx) < unsigned(w - 1) && unsigned(sy) < unsigned(h - 1)) {
                    const uchar* p = s + size_t(sy) * step + size_t(sx);
                    v00 = p[0];
                    v01 = p[1];
                    v10 = p[step];
                    v11 = p[step + 1];
                } else {
                    const int x0 = cv::borderInterpolate(sx, w, cv::BORDER_REFLECT);
                    const int x1 = cv::borderInterpolate(sx + 1, w, cv::BORDER_REFLECT);
                    const int y0 = cv::borderInterpolate(sy, h, cv::BORDER_REFLECT);
                    const int y1 = cv::borderInterpolate(sy + 1, h, cv::BORDER_REFLECT);
                    v00 = s[size_t(y0) * step + size_t(x0)];
                    v01 = s[size_t(y0) * step + size_t(x1)];
                    v10 = s[size_t(y1) * step + size_t(x0)];
                    v11 = s[size_t(y1) * step + size_t(x1)];
                }
                // Weights (32 - f) * (32 - g) * 32 and so on: the sum is 32768.
                const int top = v00 * (kTab - fx) + v01 * fx, bottom = v10 * (kTab - fx) + v11 * fx;
                const int v = ((top * (kTab - fy) + bottom * fy) * kTab + (1 << 14)) >> 15;
                d[x] = cv::saturate_cast<uchar>(v + n[x]);
            }
        }
    }
}

SimScene::Options SimScene::optionsFrom(const QJsonObject& cfg)
{
    Options o;
    o.seed = unsigned(cfg.value("seed").toInt(1));
    o.cavitiesX = cfg.value("cavitiesX").toInt(2);
    o.cavitiesY = cfg.value("cavitiesY").toInt(2);
    o.parts = cfg.value("parts").toBool(false);
    o.leftBehindEvery = cfg.value("leftBehindEvery").toInt(0);
    o.defectEvery = cfg.value("defectEvery").toInt(0);
    o.shift = cfg.value("shift").toDouble(0);
    o.angle = cfg.value("angle").toDouble(0);
    o.partStyle = cfg.value("partStyle").toInt(0);
    o.folder = cfg.value("folder").toString();
    return o;
}

void SimScene::configure(const QJsonObject& cfg, int width, int height)
{
    configure(optionsFrom(cfg), width, height);
}

void SimScene::configure(const Options& options, int width, int height)
{
    m_opt = options;
    m_opt.cavitiesX = std::clamp(m_opt.cavitiesX, 1, 8);
    m_opt.cavitiesY = std::clamp(m_opt.cavitiesY, 1, 8);
    m_opt.leftBehindEvery = std::max(0, m_opt.leftBehindEvery);
    m_opt.defectEvery = std::max(0, m_opt.defectEvery);
    m_opt.shift = std::max(0.0, m_opt.shift);
    m_opt.angle = std::max(0.0, m_opt.angle);
    m_opt.partStyle = std::clamp(m_opt.partStyle, 0, 2);
    m_w = std::max(16, width);
    m_h = std::max(16, height);
    m_files.clear();
    if (!m_opt.folder.isEmpty()) {
        QDir dir(m_opt.folder);
        const QStringList names = dir.entryList({"*.png", "*.bmp", "*.jpg", "*.jpeg", "*.tif", "*.tiff"},
                                                QDir::Files, QDir::Name);
        for (const QString& n : names)
            m_files << dir.absoluteFilePath(n);
    }
    // Everything cached belongs to the old size and seed.
    for (cv::Mat& m : m_base)
        m.release();
    for (cv::Mat& m : m_noise)
        m.release();
    m_cavities.clear();
    const int cellW = m_w / m_opt.cavitiesX;
    const int cellH = m_h / m_opt.cavitiesY;
    for (int y = 0; y < m_opt.cavitiesY; ++y)
        for (int x = 0; x < m_opt.cavitiesX; ++x) {
            const int mw = cellW / 5, mh = cellH / 5;
            m_cavities.emplace_back(x * cellW + mw, y * cellH + mh, cellW - 2 * mw, cellH - 2 * mh);
        }
}

void SimScene::engrave(cv::Mat& plate) const
{
    // Drawn on the float plate before the pins and cavities, so cavity floors
    // dim them like everything else there. Its own generator: the plain
    // plate and its noise stay as they are.
    cv::RNG rng(m_opt.seed * 2654435761u + 7u);
    const int w = m_w, h = m_h;
    const double s = w / 640.0;
    const auto px = [&](int lo, int hi) { return hi > lo ? rng.uniform(lo, hi) : lo; };
    for (int i = 0; i < 14; ++i) { // inserts: raised bright or sunk dark blocks
        const int cx = px(30, w - 30), cy = px(30, h - 30);
        const int rw = int(rng.uniform(12, 40) * s), rh = int(rng.uniform(8, 30) * s);
        const double g = rng.uniform(0, 2) ? rng.uniform(150, 220) : rng.uniform(25, 70);
        const cv::Rect r(cx - rw, cy - rh, 2 * rw, 2 * rh);
        cv::rectangle(plate, r, cv::Scalar(g), cv::FILLED);
        cv::rectangle(plate, r, cv::Scalar(g * 0.6), std::max(1, int(2 * s)));
    }
    for (int i = 0; i < 22; ++i) { // screws and vents
        const cv::Point c(px(20, w - 20), px(20, h - 20));
        const int r = std::max(2, int(rng.uniform(4, 12) * s));
        cv::circle(plate, c, r, cv::Scalar(rng.uniform(170, 235)), cv::FILLED, cv::LINE_AA);
        cv::circle(plate, c, std::max(1, r / 3), cv::Scalar(rng.uniform(30, 80)), cv::FILLED, cv::LINE_AA);
    }
    for (int i = 0; i < 6; ++i) // cooling ribs
        cv::line(plate, cv::Point(px(0, w), px(0, h)), cv::Point(px(0, w), px(0, h)), cv::Scalar(rng.uniform(40, 200)),
                 std::max(1, int(3 * s)), cv::LINE_AA);
    for (int i = 0; i < 5; ++i) // lettering
        cv::putText(plate, cv::format("K%d-%03d", i, int(rng.uniform(0, 999))), cv::Point(px(10, w - 150), px(30, h - 10)),
                    cv::FONT_HERSHEY_SIMPLEX, 0.8 * s, cv::Scalar(rng.uniform(20, 60)), std::max(1, int(2 * s)),
                    cv::LINE_AA);
}

void SimScene::buildBase(bool color)
{
    cv::RNG rng(m_opt.seed);
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
    if (m_opt.engraved)
        engrave(plate);
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

cv::Rect SimScene::partRect(int cavity) const
{
    if (cavity < 0 || cavity >= int(m_cavities.size()))
        return cv::Rect();
    const cv::Rect& cav = m_cavities[size_t(cavity)];
    return cv::Rect(cav.x + cav.width / 8, cav.y + cav.height / 8, cav.width * 3 / 4, cav.height * 3 / 4);
}

std::vector<SimScene::Circle> SimScene::pins(int cavity) const
{
    const cv::Rect b = partRect(cavity);
    const double share[4] = {0.025, 0.032, 0.04, 0.05};
    const cv::Point2d at[4] = {{0.2, 0.3}, {0.8, 0.3}, {0.2, 0.7}, {0.8, 0.7}};
    std::vector<Circle> out;
    for (int i = 0; i < 4; ++i)
        out.push_back({cv::Point2d(b.x + at[i].x * b.width, b.y + at[i].y * b.height),
                       std::sqrt(share[i] * b.area() / CV_PI)});
    return out;
}

SimScene::Circle SimScene::flawCircle(const Flaw& flaw) const
{
    const cv::Rect b = partRect(flaw.cavity);
    const double place = std::clamp(flaw.place, 0.0, 1.0);
    switch (flaw.kind) {
    case Flaw::MissingPin:
        return pins(flaw.cavity)[size_t(std::clamp(flaw.pin, 0, 3))];
    case Flaw::AddedHole: {
        // In the free band above or below the centre hole, between the pins.
        const double along = place < 0.5 ? 2 * place : 2 * place - 1;
        const double band = (b.height / 2.0 - std::min(b.width, b.height) / 7.0) / 2.0;
        return {cv::Point2d(b.x + b.width * (0.42 + 0.16 * along), place < 0.5 ? b.y + band : b.br().y - band),
                std::sqrt(std::max(0.0, flaw.area) / CV_PI)};
    }
    case Flaw::Chip: {
        // A bite centred on the straight part of the outline: half a disc lies in the part.
        const int rad = std::max(2, std::min(b.width, b.height) / 6);
        const double sw = b.width - 2.0 * rad, sh = b.height - 2.0 * rad;
        double t = place * 2 * (sw + sh);
        cv::Point2d c;
        if (t < sw)
            c = {b.x + rad + t, double(b.y)};
        else if ((t -= sw) < sh)
            c = {double(b.br().x), b.y + rad + t};
        else if ((t -= sh) < sw)
            c = {b.br().x - rad - t, double(b.br().y)};
        else
            c = {double(b.x), b.br().y - rad - (t - sw)};
        return {c, std::sqrt(2 * std::max(0.0, flaw.area) / CV_PI)};
    }
    case Flaw::None:
        break;
    }
    return {cv::Point2d(), 0};
}

cv::Rect SimScene::flawRect(const Flaw& flaw) const
{
    if (flaw.kind == Flaw::None || flaw.cavity < 0 || flaw.cavity >= int(m_cavities.size()))
        return cv::Rect();
    const Circle f = flawCircle(flaw);
    const cv::Rect r(cvFloor(f.c.x - f.r), cvFloor(f.c.y - f.r), cvCeil(2 * f.r) + 1, cvCeil(2 * f.r) + 1);
    return flaw.kind == Flaw::Chip ? r & partRect(flaw.cavity) : r;
}

void SimScene::drawPart(cv::Mat& img, int cavity, bool color, int style, const Flaw* flaw) const
{
    const cv::Rect body = partRect(cavity);
    const cv::Scalar c = color ? cv::Scalar(40, 140, 230) : cv::Scalar(200);
    const cv::Point centre(body.x + body.width / 2, body.y + body.height / 2);
    const int side = std::min(body.width, body.height);
    const bool flawed = flaw && flaw->kind != Flaw::None && flaw->cavity == cavity;
    const cv::Rect frameRect(0, 0, img.cols, img.rows);
    const cv::Rect around = cv::Rect(body.x - side, body.y - side, body.width + 2 * side, body.height + 2 * side) & frameRect;
    const cv::Mat under = flawed && flaw->kind == Flaw::Chip ? img(around).clone() : cv::Mat();
    if (style == 2) {
        // Another article: a round lid with a slot and two holes.
        const int r = side / 2 - 1;
        cv::circle(img, centre, r, c, cv::FILLED, cv::LINE_AA);
        cv::rectangle(img, cv::Rect(centre.x - r / 2, centre.y - r / 9, r, 2 * (r / 9)), grey(color, 60), cv::FILLED);
        for (int s : {-1, 1})
            cv::circle(img, centre + cv::Point(0, s * r / 2), r / 6, grey(color, 60), cv::FILLED, cv::LINE_AA);
    } else {
        // A moulded cap: a rounded body with a hole, lighter than the plate.
        const int rad = std::max(2, side / 6);
        cv::rectangle(img, cv::Rect(body.x + rad, body.y, body.width - 2 * rad, body.height), c, cv::FILLED);
        cv::rectangle(img, cv::Rect(body.x, body.y + rad, body.width, body.height - 2 * rad), c, cv::FILLED);
        for (const cv::Point& p : {cv::Point(body.x + rad, body.y + rad), cv::Point(body.br().x - rad, body.y + rad),
                                   cv::Point(body.x + rad, body.br().y - rad), cv::Point(body.br().x - rad, body.br().y - rad)})
            cv::circle(img, p, rad, c, cv::FILLED, cv::LINE_AA);
        cv::circle(img, centre, style == 1 ? side / 7 : side / 5, grey(color, 60), cv::FILLED, cv::LINE_AA);
        if (style == 1)
            for (int i = 0; i < 4; ++i) {
                if (flawed && flaw->kind == Flaw::MissingPin && flaw->pin == i)
                    continue; // a short shot: the pin did not fill
                const Circle p = pins(cavity)[size_t(i)];
                // A boss with its shadowed rim, sizes in eighths of a pixel.
                cv::circle(img, cv::Point(cvRound(p.c.x * 8), cvRound(p.c.y * 8)), cvRound(p.r * 8), grey(color, 150),
                           cv::FILLED, cv::LINE_AA, 3);
                cv::circle(img, cv::Point(cvRound(p.c.x * 8), cvRound(p.c.y * 8)), cvRound((p.r - 2) * 8), grey(color, 240),
                           cv::FILLED, cv::LINE_AA, 3);
            }
        if (m_opt.engraved) {
            // The cavity number moulded into the cap's rim, as real moulds mark their parts.
            const double fs = std::max(0.3, body.height / 90.0);
            cv::putText(img, std::to_string(cavity + 1), cv::Point(body.x + rad / 2 + 1, body.br().y - rad / 2 - 1),
                        cv::FONT_HERSHEY_SIMPLEX, fs, grey(color, 70), std::max(1, int(fs * 2)), cv::LINE_AA);
        }
    }
    if (!flawed || flaw->kind == Flaw::MissingPin)
        return;
    const Circle f = flawCircle(*flaw);
    const cv::Point fc(cvRound(f.c.x * 8), cvRound(f.c.y * 8));
    if (flaw->kind == Flaw::AddedHole) {
        cv::circle(img, fc, cvRound(f.r * 8), grey(color, 60), cv::FILLED, cv::LINE_AA, 3);
    } else {
        // The bite shows what lies under the part.
        cv::Mat bite(around.size(), CV_8UC1, cv::Scalar(0));
        cv::circle(bite, fc - 8 * around.tl(), cvRound(f.r * 8), cv::Scalar(255), cv::FILLED, cv::LINE_8, 3);
        under.copyTo(img(around), bite);
    }
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

std::vector<cv::Rect> SimScene::defectSpots(quint64 n) const
{
    // On the parts (on the cavity floors of an emptied mould), where the
    // inspection regions are drawn, and from an eighth to a fifth of a
    // part's side across: above the factory setting's alarm area from parts
    // of about 100 pixels up, so a region over the part calls them.
    std::vector<cv::Rect> spots;
    if (m_cavities.empty())
        return spots;
    const int count = unitRandom(m_opt.seed, n, 11) < 0.7 ? 1 : 2;
    for (int i = 0; i < count; ++i) {
        const int cavity = int(unitRandom(m_opt.seed, n, 80 + i) * double(m_cavities.size()));
        const cv::Rect b = partRect(std::min(cavity, int(m_cavities.size()) - 1));
        const int side = std::min(b.width, b.height);
        const int r = std::max(3, side / 16 + int(unitRandom(m_opt.seed, n, 60 + i) * (side / 10 - side / 16)));
        const cv::Point c(b.x + int(b.width * (0.15 + 0.7 * unitRandom(m_opt.seed, n, 20 + i))),
                          b.y + int(b.height * (0.15 + 0.7 * unitRandom(m_opt.seed, n, 40 + i))));
        spots.emplace_back(c.x - r, c.y - r, 2 * r + 1, 2 * r + 1);
    }
    return spots;
}

int SimScene::leftBehindCavity(quint64 n, const Shot& shot) const
{
    if (m_cavities.empty())
        return -1;
    if (shot.leftBehindCavity >= 0 && shot.leftBehindCavity < int(m_cavities.size()))
        return shot.leftBehindCavity;
    return int(n % m_cavities.size());
}

SimScene::Pose SimScene::jitter(quint64 n) const
{
    Pose p;
    if (m_opt.shift > 0 || m_opt.angle > 0) {
        p.angle = (unitRandom(m_opt.seed, n, 1) * 2 - 1) * m_opt.angle;
        p.shift.x = (unitRandom(m_opt.seed, n, 2) * 2 - 1) * m_opt.shift;
        p.shift.y = (unitRandom(m_opt.seed, n, 3) * 2 - 1) * m_opt.shift;
    }
    return p;
}

cv::Mat SimScene::poseMatrix(const Pose& pose) const
{
    const cv::Point2f pivot = pose.pivot.x < 0 || pose.pivot.y < 0 ? cv::Point2f(m_w / 2.f, m_h / 2.f)
                                                                     : cv::Point2f(float(pose.pivot.x), float(pose.pivot.y));
    cv::Mat m = cv::getRotationMatrix2D(pivot, pose.angle, 1.0);
    m.at<double>(0, 2) += pose.shift.x;
    m.at<double>(1, 2) += pose.shift.y;
    return m;
}

cv::Point2d SimScene::movePoint(cv::Point2d p, const Pose& pose) const
{
    const cv::Mat m = poseMatrix(pose);
    return cv::Point2d(m.at<double>(0, 0) * p.x + m.at<double>(0, 1) * p.y + m.at<double>(0, 2),
                       m.at<double>(1, 0) * p.x + m.at<double>(1, 1) * p.y + m.at<double>(1, 2));
}

cv::Mat SimScene::frame(quint64 n, const Shot& shot)
{
    if (m_cavities.empty()) // never configured: the defaults at the default size
        configure(m_opt, m_w, m_h);
    const bool color = shot.color;
    cv::Mat img;
    if (!m_files.isEmpty()) {
        if (!loadFolderFrame(n, color, img))
            img = cv::Mat(m_h, m_w, color ? CV_8UC3 : CV_8UC1, grey(color, 0));
    } else {
        cv::Mat& base = m_base[color ? 1 : 0];
        if (base.empty())
            buildBase(color);
        const int style = shot.partStyle >= 0 ? shot.partStyle : m_opt.partStyle;
        const quint64 lbe = quint64(m_opt.leftBehindEvery);
        const bool leftBehind = shot.leftBehind || (lbe > 0 && n % lbe == lbe - 1);
        const quint64 de = quint64(m_opt.defectEvery);
        const bool defect = shot.defect || (de > 0 && n % de == de - 1);
        const Pose pose = shot.pose ? *shot.pose : jitter(n);
        const bool moved = pose.shift != cv::Point2d(0, 0) || pose.angle != 0;
        // A mono frame without further noise is made in one pass that only
        // reads the plate: no copy of it unless something is drawn on it.
        const bool onePass = !color && shot.noise <= 0;
        img = onePass && !m_opt.parts && !leftBehind && !defect ? base : base.clone();
        if (m_opt.parts)
            for (int i = 0; i < int(m_cavities.size()); ++i)
                if (std::find(shot.missing.begin(), shot.missing.end(), i) == shot.missing.end())
                    drawPart(img, i, color, style, &shot.flaw);
        if (leftBehind && !m_opt.parts)
            drawPart(img, leftBehindCavity(n, shot), color, style, nullptr);
        if (defect)
            for (const cv::Rect& r : defectSpots(n))
                cv::circle(img, cv::Point(r.x + r.width / 2, r.y + r.height / 2), r.width / 2, grey(color, 20), cv::FILLED, cv::LINE_AA);
        const cv::Mat& noise = m_noise[n % 4];
        if (onePass) {
            cv::Mat out;
            if (moved) {
                warpWithNoise(img, poseMatrix(pose), noise, out);
            } else {
                out.create(img.size(), CV_8UC1);
                for (int y = 0; y < img.rows; ++y) {
                    const uchar* a = img.ptr<uchar>(y);
                    const schar* b = noise.ptr<schar>(y);
                    uchar* o = out.ptr<uchar>(y);
                    for (int x = 0; x < img.cols; ++x)
                        o[x] = cv::saturate_cast<uchar>(a[x] + b[x]);
                }
            }
            img = out;
        } else if (moved) {
            cv::warpAffine(img, img, poseMatrix(pose), img.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
        }
        if (!color && !onePass) {
            cv::Mat s;
            img.convertTo(s, CV_16S);
            cv::add(s, noise, s, cv::noArray(), CV_16S);
            if (shot.noise > 0) {
                cv::Mat g(s.size(), CV_16S);
                cv::RNG(quint64(m_opt.seed) * 0x9E3779B97F4A7C15ull + n).fill(g, cv::RNG::NORMAL, 0, shot.noise);
                s += g;
            }
            s.convertTo(img, CV_8U);
        }
    }
    if (std::abs(shot.brightness - 1.0) > 1e-6)
        img.convertTo(img, -1, shot.brightness, 0);
    if (shot.hMirror && shot.vMirror)
        cv::flip(img, img, -1);
    else if (shot.hMirror)
        cv::flip(img, img, 1);
    else if (shot.vMirror)
        cv::flip(img, img, 0);
    if (!color)
        return img;
    cv::Mat out;
    cv::cvtColor(img, out, cv::COLOR_BGR2BGRA); // alpha 255: the view reads 0xffRRGGBB
    return out;
}

void SimScene::render(quint64 n, bool color, double brightness, bool hMirror, bool vMirror, const Faults& faults,
                      cv::Mat& out)
{
    Shot shot;
    shot.color = color;
    shot.brightness = brightness;
    shot.hMirror = hMirror;
    shot.vMirror = vMirror;
    shot.leftBehind = faults.leftBehind;
    shot.defect = faults.defect;
    out = frame(n, shot);
}
