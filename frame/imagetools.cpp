#include "frame/imagetools.h"

#include <QDebug>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

const int gaRGB2Gray[768] = {
    0, 306, 612, 918, 1224, 1530, 1837, 2143,
    2449, 2755, 3061, 3367, 3674, 3980, 4286, 4592,
    4898, 5204, 5511, 5817, 6123, 6429, 6735, 7042,
    7348, 7654, 7960, 8266, 8572, 8879, 9185, 9491,
    9797, 10103, 10409, 10716, 11022, 11328, 11634, 11940,
    12247, 12553, 12859, 13165, 13471, 13777, 14084, 14390,
    14696, 15002, 15308, 15614, 15921, 16227, 16533, 16839,
    17145, 17452, 17758, 18064, 18370, 18676, 18982, 19289,
    19595, 19901, 20207, 20513, 20819, 21126, 21432, 21738,
    22044, 22350, 22657, 22963, 23269, 23575, 23881, 24187,
    24494, 24800, 25106, 25412, 25718, 26024, 26331, 26637,
    26943, 27249, 27555, 27862, 28168, 28474, 28780, 29086,
    29392, 29699, 30005, 30311, 30617, 30923, 31229, 31536,
    31842, 32148, 32454, 32760, 33067, 33373, 33679, 33985,
    34291, 34597, 34904, 35210, 35516, 35822, 36128, 36434,
    36741, 37047, 37353, 37659, 37965, 38272, 38578, 38884,
    39190, 39496, 39802, 40109, 40415, 40721, 41027, 41333,
    41639, 41946, 42252, 42558, 42864, 43170, 43476, 43783,
    44089, 44395, 44701, 45007, 45314, 45620, 45926, 46232,
    46538, 46844, 47151, 47457, 47763, 48069, 48375, 48681,
    48988, 49294, 49600, 49906, 50212, 50519, 50825, 51131,
    51437, 51743, 52049, 52356, 52662, 52968, 53274, 53580,
    53886, 54193, 54499, 54805, 55111, 55417, 55724, 56030,
    56336, 56642, 56948, 57254, 57561, 57867, 58173, 58479,
    58785, 59091, 59398, 59704, 60010, 60316, 60622, 60929,
    61235, 61541, 61847, 62153, 62459, 62766, 63072, 63378,
    63684, 63990, 64296, 64603, 64909, 65215, 65521, 65827,
    66134, 66440, 66746, 67052, 67358, 67664, 67971, 68277,
    68583, 68889, 69195, 69501, 69808, 70114, 70420, 70726,
    71032, 71339, 71645, 71951, 72257, 72563, 72869, 73176,
    73482, 73788, 74094, 74400, 74706, 75013, 75319, 75625,
    75931, 76237, 76544, 76850, 77156, 77462, 77768, 78074,
    0, 601, 1202, 1803, 2404, 3005, 3606, 4207,
    4808, 5409, 6010, 6611, 7213, 7814, 8415, 9016,
    9617, 10218, 10819, 11420, 12021, 12622, 13223, 13825,
    14426, 15027, 15628, 16229, 16830, 17431, 18032, 18633,
    19234, 19835, 20436, 21038, 21639, 22240, 22841, 23442,
    24043, 24644, 25245, 25846, 26447, 27048, 27650, 28251,
    28852, 29453, 30054, 30655, 31256, 31857, 32458, 33059,
    33660, 34262, 34863, 35464, 36065, 36666, 37267, 37868,
    38469, 39070, 39671, 40272, 40873, 41475, 42076, 42677,
    43278, 43879, 44480, 45081, 45682, 46283, 46884, 47485,
    48087, 48688, 49289, 49890, 50491, 51092, 51693, 52294,
    52895, 53496, 54097, 54699, 55300, 55901, 56502, 57103,
    57704, 58305, 58906, 59507, 60108, 60709, 61310, 61912,
    62513, 63114, 63715, 64316, 64917, 65518, 66119, 66720,
    67321, 67922, 68524, 69125, 69726, 70327, 70928, 71529,
    72130, 72731, 73332, 73933, 74534, 75136, 75737, 76338,
    76939, 77540, 78141, 78742, 79343, 79944, 80545, 81146,
    81747, 82349, 82950, 83551, 84152, 84753, 85354, 85955,
    86556, 87157, 87758, 88359, 88961, 89562, 90163, 90764,
    91365, 91966, 92567, 93168, 93769, 94370, 94971, 95572,
    96174, 96775, 97376, 97977, 98578, 99179, 99780, 100381,
    100982, 101583, 102184, 102786, 103387, 103988, 104589, 105190,
    105791, 106392, 106993, 107594, 108195, 108796, 109398, 109999,
    110600, 111201, 111802, 112403, 113004, 113605, 114206, 114807,
    115408, 116009, 116611, 117212, 117813, 118414, 119015, 119616,
    120217, 120818, 121419, 122020, 122621, 123223, 123824, 124425,
    125026, 125627, 126228, 126829, 127430, 128031, 128632, 129233,
    129835, 130436, 131037, 131638, 132239, 132840, 133441, 134042,
    134643, 135244, 135845, 136446, 137048, 137649, 138250, 138851,
    139452, 140053, 140654, 141255, 141856, 142457, 143058, 143660,
    144261, 144862, 145463, 146064, 146665, 147266, 147867, 148468,
    149069, 149670, 150272, 150873, 151474, 152075, 152676, 153277,
    0, 116, 233, 350, 466, 583, 700, 817,
    933, 1050, 1167, 1284, 1400, 1517, 1634, 1751,
    1867, 1984, 2101, 2217, 2334, 2451, 2568, 2684,
    2801, 2918, 3035, 3151, 3268, 3385, 3502, 3618,
    3735, 3852, 3969, 4085, 4202, 4319, 4435, 4552,
    4669, 4786, 4902, 5019, 5136, 5253, 5369, 5486,
    5603, 5720, 5836, 5953, 6070, 6187, 6303, 6420,
    6537, 6653, 6770, 6887, 7004, 7120, 7237, 7354,
    7471, 7587, 7704, 7821, 7938, 8054, 8171, 8288,
    8404, 8521, 8638, 8755, 8871, 8988, 9105, 9222,
    9338, 9455, 9572, 9689, 9805, 9922, 10039, 10156,
    10272, 10389, 10506, 10622, 10739, 10856, 10973, 11089,
    11206, 11323, 11440, 11556, 11673, 11790, 11907, 12023,
    12140, 12257, 12374, 12490, 12607, 12724, 12840, 12957,
    13074, 13191, 13307, 13424, 13541, 13658, 13774, 13891,
    14008, 14125, 14241, 14358, 14475, 14592, 14708, 14825,
    14942, 15058, 15175, 15292, 15409, 15525, 15642, 15759,
    15876, 15992, 16109, 16226, 16343, 16459, 16576, 16693,
    16809, 16926, 17043, 17160, 17276, 17393, 17510, 17627,
    17743, 17860, 17977, 18094, 18210, 18327, 18444, 18561,
    18677, 18794, 18911, 19027, 19144, 19261, 19378, 19494,
    19611, 19728, 19845, 19961, 20078, 20195, 20312, 20428,
    20545, 20662, 20779, 20895, 21012, 21129, 21245, 21362,
    21479, 21596, 21712, 21829, 21946, 22063, 22179, 22296,
    22413, 22530, 22646, 22763, 22880, 22996, 23113, 23230,
    23347, 23463, 23580, 23697, 23814, 23930, 24047, 24164,
    24281, 24397, 24514, 24631, 24748, 24864, 24981, 25098,
    25214, 25331, 25448, 25565, 25681, 25798, 25915, 26032,
    26148, 26265, 26382, 26499, 26615, 26732, 26849, 26966,
    27082, 27199, 27316, 27432, 27549, 27666, 27783, 27899,
    28016, 28133, 28250, 28366, 28483, 28600, 28717, 28833,
    28950, 29067, 29184, 29300, 29417, 29534, 29650, 29767,
};

namespace {

bool validBuffers(const void* a, const void* b, int width, int height, const char* who)
{
    if (!a || !b || width <= 0 || height <= 0) {
        qWarning() << who << ": no buffer or empty size" << width << "x" << height;
        return false;
    }
    return true;
}

size_t pixelCount(int width, int height)
{
    return static_cast<size_t>(width) * static_cast<size_t>(height);
}

inline uchar clampByte(double v)
{
    if (v < 0.0)
        return 0;
    if (v > 255.0)
        return 255;
    return static_cast<uchar>(static_cast<int>(v));
}

} // namespace

namespace {

// The luma table's three columns as multiply and shift: entry i of column k
// is (i * kLumaMul[k]) >> kLumaShift[k] for every byte i (the tests hold the
// two against each other), so a pixel needs no table look-up.
constexpr unsigned kLumaMul[3] = {1254097u, 4924113u, 1912603u};
constexpr unsigned kLumaShift[3] = {12u, 13u, 14u};

inline uchar lumaOf(const uchar* s)
{
    return uchar((((s[0] * kLumaMul[0]) >> kLumaShift[0]) + ((s[1] * kLumaMul[1]) >> kLumaShift[1]) +
                  ((s[2] * kLumaMul[2]) >> kLumaShift[2])) >> 10);
}

// The hue of every colour, computed once by RGB2HueByte's own arithmetic and
// looked up by (d, m): d = max - min, m = the pixel's place on the hue circle
// in units of 1/d (0..6d). Row d starts at 3d^2 - 2d. Four spare bytes let a
// vector gather read 32 bits at the last entry.
const uchar* hueTable()
{
    static const std::vector<uchar> table = [] {
        std::vector<uchar> t;
        t.reserve(196100);
        t.push_back(0);
        for (int d = 1; d < 256; ++d) {
            // The same float steps as RGB2HueByte for the max channel that m implies.
            for (int m = 0; m <= 6 * d; ++m) {
                uchar r, g, b;
                if (m <= d) {
                    r = uchar(d), g = uchar(m), b = 0; // red max, g >= b
                } else if (m <= 3 * d) {
                    g = uchar(d), r = uchar(m <= 2 * d ? 2 * d - m : 0), b = uchar(m <= 2 * d ? 0 : m - 2 * d);
                } else if (m < 5 * d) {
                    b = uchar(d), g = uchar(m <= 4 * d ? 4 * d - m : 0), r = uchar(m <= 4 * d ? 0 : m - 4 * d);
                } else {
                    r = uchar(d), g = 0, b = uchar(6 * d - m); // red max, g < b (m = 5d: b = d)
                }
                t.push_back(RGB2HueByte(r, g, b));
            }
        }
        t.resize(t.size() + 4, 0);
        return t;
    }();
    return table.data();
}

inline int hueIndex(int r, int g, int b)
{
    const int mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
    const int d = mx - mn;
    const int m = r == mx ? g - b + (g < b ? 6 * d : 0) : (g == mx ? b - r + 2 * d : r - g + 4 * d);
    return 3 * d * d - 2 * d + m;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define STATION_HAVE_AVX2_PATH 1

__attribute__((target("avx2"))) inline __m256i channels(__m256i v, int k)
{
    return _mm256_and_si256(_mm256_srli_epi32(v, 8 * k), _mm256_set1_epi32(255));
}

// Eight pixels to eight 32-bit hue values.
__attribute__((target("avx2"))) inline __m256i hue8(const uchar* p, const uchar* table)
{
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i r = channels(v, 0), g = channels(v, 1), b = channels(v, 2);
    const __m256i mx = _mm256_max_epi32(r, _mm256_max_epi32(g, b));
    const __m256i d = _mm256_sub_epi32(mx, _mm256_min_epi32(r, _mm256_min_epi32(g, b)));
    const __m256i d2 = _mm256_add_epi32(d, d), d4 = _mm256_add_epi32(d2, d2), d6 = _mm256_add_epi32(d4, d2);
    const __m256i mr = _mm256_add_epi32(_mm256_sub_epi32(g, b), _mm256_and_si256(_mm256_cmpgt_epi32(b, g), d6));
    const __m256i mg = _mm256_add_epi32(_mm256_sub_epi32(b, r), d2);
    const __m256i mb = _mm256_add_epi32(_mm256_sub_epi32(r, g), d4);
    const __m256i m = _mm256_blendv_epi8(_mm256_blendv_epi8(mb, mg, _mm256_cmpeq_epi32(g, mx)), mr,
                                         _mm256_cmpeq_epi32(r, mx));
    const __m256i row = _mm256_sub_epi32(_mm256_mullo_epi32(_mm256_mullo_epi32(d, d), _mm256_set1_epi32(3)), d2);
    const __m256i at = _mm256_add_epi32(row, m);
    return _mm256_and_si256(_mm256_i32gather_epi32(reinterpret_cast<const int*>(table), at, 1),
                            _mm256_set1_epi32(255));
}

__attribute__((target("avx2"))) inline __m256i luma8(const uchar* p)
{
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i sum = _mm256_setzero_si256();
    for (int k = 0; k < 3; ++k)
        sum = _mm256_add_epi32(sum, _mm256_srli_epi32(_mm256_mullo_epi32(channels(v, k), _mm256_set1_epi32(int(kLumaMul[k]))),
                                                      int(kLumaShift[k])));
    return _mm256_srli_epi32(sum, 10);
}

// 32 results of 32-bit lanes packed in order into 32 bytes.
__attribute__((target("avx2"))) inline void store32(uchar* dst, __m256i a, __m256i b, __m256i c, __m256i d)
{
    const __m256i x = _mm256_packus_epi16(_mm256_packus_epi32(a, b), _mm256_packus_epi32(c, d));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_permutevar8x32_epi32(x, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
}

__attribute__((target("avx2"))) size_t hueRowAvx2(uchar* dst, const uchar* src, size_t n, const uchar* table)
{
    size_t i = 0;
    for (; i + 32 <= n; i += 32, src += 128)
        store32(dst + i, hue8(src, table), hue8(src + 32, table), hue8(src + 64, table), hue8(src + 96, table));
    return i;
}

__attribute__((target("avx2"))) size_t lumaRowAvx2(uchar* dst, const uchar* src, size_t n)
{
    size_t i = 0;
    for (; i + 32 <= n; i += 32, src += 128)
        store32(dst + i, luma8(src), luma8(src + 32), luma8(src + 64), luma8(src + 96));
    return i;
}

bool haveAvx2()
{
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

} // namespace

void RGBA2GrayRow(uchar* dst, const uchar* src, size_t n)
{
    size_t i = 0;
#ifdef STATION_HAVE_AVX2_PATH
    if (haveAvx2())
        i = lumaRowAvx2(dst, src, n);
#endif
    for (src += 4 * i; i < n; ++i, src += 4)
        dst[i] = lumaOf(src);
}

void RGBA2HueRow(uchar* dst, const uchar* src, size_t n)
{
    const uchar* table = hueTable();
    size_t i = 0;
#ifdef STATION_HAVE_AVX2_PATH
    if (haveAvx2())
        i = hueRowAvx2(dst, src, n, table);
#endif
    for (src += 4 * i; i < n; ++i, src += 4)
        dst[i] = table[hueIndex(src[0], src[1], src[2])];
}

void RGBA2GrayHueRect(uchar* dst, const int* src, int width, int height, const cv::Rect& box, bool grey)
{
    if (!validBuffers(dst, src, width, height, "RGBA2GrayHueRect"))
        return;
    const cv::Rect b = box & cv::Rect(0, 0, width, height);
    for (int y = b.y; y < b.y + b.height; ++y) {
        const size_t at = size_t(y) * size_t(width) + size_t(b.x);
        const uchar* s = reinterpret_cast<const uchar*>(src + at);
        if (grey)
            RGBA2GrayRow(dst + at, s, size_t(b.width));
        else
            RGBA2HueRow(dst + at, s, size_t(b.width));
    }
}

void ForRowBands(int rows, size_t rowPixels, const std::function<void(int, int)>& work)
{
    // Below about a megapixel the hand-over costs more than it saves.
    constexpr size_t kBandPixels = size_t(1) << 20;
    const int threads = QThreadPool::globalInstance()->maxThreadCount();
    const size_t pixels = size_t(std::max(rows, 0)) * rowPixels;
    const int bands = int(std::min<size_t>(size_t(std::clamp(threads, 1, 4)), pixels / kBandPixels));
    if (rows <= 0)
        return;
    if (bands < 2 || QThreadPool::globalInstance()->activeThreadCount() > 0) {
        work(0, rows);
        return;
    }
    std::vector<std::pair<int, int>> spans;
    for (int b = 0; b < bands; ++b)
        spans.emplace_back(rows * b / bands, rows * (b + 1) / bands);
    QtConcurrent::blockingMap(spans, [&work](const std::pair<int, int>& s) { work(s.first, s.second); });
}

void RGB2Gray(uchar* dst, int* src, int width, int height)
{
    if (!validBuffers(dst, src, width, height, "RGB2Gray"))
        return;
    RGBA2GrayRow(dst, reinterpret_cast<const uchar*>(src), pixelCount(width, height));
}

void RGBA2Gray(uchar* dst, int* src, int width, int height)
{
    RGB2Gray(dst, src, width, height);
}

uchar RGB2HueByte(uchar r, uchar g, uchar b)
{
    const float fr = r, fg = g, fb = b;
    const float mx = std::max(fr, std::max(fg, fb));
    const float mn = std::min(fr, std::min(fg, fb));
    const float d = mx - mn;
    if (mx == 0.0f || d == 0.0f)
        return 0;
    float h;
    if (fr == mx) {
        h = (fg - fb) / d;
        if (fg < fb)
            h += 6.0f;
    } else if (fg == mx) {
        h = (fb - fr) / d + 2.0f;
    } else {
        h = (fr - fg) / d + 4.0f;
    }
    return static_cast<uchar>(static_cast<int>(h * 42.5f));
}

void RGBA2Hue(uchar* dst, int* src, int width, int height)
{
    if (!validBuffers(dst, src, width, height, "RGBA2Hue"))
        return;
    RGBA2HueRow(dst, reinterpret_cast<const uchar*>(src), pixelCount(width, height));
}

void Gray2RGBA(uchar* src, int* dst, int width, int height)
{
    if (!validBuffers(dst, src, width, height, "Gray2RGBA"))
        return;
    uchar* d = reinterpret_cast<uchar*>(dst);
    const size_t n = pixelCount(width, height);
    for (size_t i = 0; i < n; ++i, d += 4) {
        d[0] = d[1] = d[2] = src[i];
        d[3] = 0;
    }
}

void Gray2RGB(uchar* src, int* dst, int width, int height)
{
    Gray2RGBA(src, dst, width, height);
}

void MoveImage(cv::Mat src, cv::Mat& dst, int dx, int dy)
{
    if (src.empty()) {
        qWarning() << "MoveImage: empty source image";
        return;
    }
    // Moving in place would read pixels already moved.
    if (!dst.empty() && dst.data == src.data)
        src = src.clone();
    if (dst.size() != src.size() || dst.type() != src.type())
        dst.create(src.size(), src.type());
    dst.setTo(cv::Scalar::all(0));
    const long long rows = src.rows, cols = src.cols;
    if (std::llabs(static_cast<long long>(dx)) >= cols || std::llabs(static_cast<long long>(dy)) >= rows)
        return;
    const size_t px = src.elemSize();
    const int c0 = std::max(0, dx);              // first destination column with a source
    const int c1 = std::min(src.cols, src.cols + dx); // one past the last
    for (int r = std::max(0, dy); r < std::min(src.rows, src.rows + dy); ++r) {
        const uchar* s = src.ptr<uchar>(r - dy) + static_cast<size_t>(c0 - dx) * px;
        uchar* d = dst.ptr<uchar>(r) + static_cast<size_t>(c0) * px;
        std::memcpy(d, s, static_cast<size_t>(c1 - c0) * px);
    }
}

void TransformImage(cv::Mat src, cv::Mat& dst, cv::Point shift, cv::Point centre, double angle)
{
    if (src.empty()) {
        qWarning() << "TransformImage: empty source image";
        return;
    }
    const int L = static_cast<int>(std::max(src.cols, src.rows) * 1.414);
    const int ph = std::max(0, (L - src.cols) / 2);
    const int pv = std::max(0, (L - src.rows) / 2);
    cv::Mat padded;
    cv::copyMakeBorder(src, padded, pv, pv, ph, ph, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    cv::Mat moved(padded.size(), padded.type());
    MoveImage(padded, moved, shift.x, shift.y);
    const cv::Point2f pivot(static_cast<float>(centre.x + ph), static_cast<float>(centre.y + pv));
    const cv::Mat rot = cv::getRotationMatrix2D(pivot, angle, 1.0);
    cv::Mat rotated;
    cv::warpAffine(moved, rotated, rot, moved.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    dst = rotated(cv::Rect(ph, pv, src.cols, src.rows)).clone();
}

void Threshold(const cv::Mat&, const cv::Mat&, cv::Mat, int, int)
{
}

void Gray24To8(uchar* dst, uchar* src, int width, int height)
{
    if (!validBuffers(dst, src, width, height, "Gray24To8"))
        return;
    const size_t n = pixelCount(width, height);
    for (size_t i = 0; i < n; ++i)
        dst[i] = src[3 * i];
}

void RGB2RGBA(uchar* dst, uchar* src, int width, int height)
{
    if (!validBuffers(dst, src, width, height, "RGB2RGBA"))
        return;
    const size_t n = pixelCount(width, height);
    for (size_t i = 0; i < n; ++i) {
        dst[4 * i] = src[3 * i + 2];
        dst[4 * i + 1] = src[3 * i + 1];
        dst[4 * i + 2] = src[3 * i];
        dst[4 * i + 3] = 0;
    }
}

void ExtractRGBA(uchar* p0, uchar* p1, uchar* p2, uchar* src, int width, int height)
{
    if (!validBuffers(p0, src, width, height, "ExtractRGBA") || !p1 || !p2)
        return;
    const size_t n = pixelCount(width, height);
    for (size_t i = 0; i < n; ++i) {
        p0[i] = src[4 * i];
        p1[i] = src[4 * i + 1];
        p2[i] = src[4 * i + 2];
    }
}

void GenRGBA(uchar* p0, uchar* p1, uchar* p2, uchar* dst, int width, int height)
{
    if (!validBuffers(p0, dst, width, height, "GenRGBA") || !p1 || !p2)
        return;
    const size_t n = pixelCount(width, height);
    for (size_t i = 0; i < n; ++i) {
        dst[4 * i] = p0[i];
        dst[4 * i + 1] = p1[i];
        dst[4 * i + 2] = p2[i];
        dst[4 * i + 3] = 0;
    }
}

namespace {

void yuv420sp(const cv::Mat& src, uchar* dst, int code, int channels)
{
    const int rows = static_cast<int>(src.rows / 1.5);
    // The converter needs whole 2 x 2 chroma blocks; anything else would
    // throw out of OpenCV.
    if (src.empty() || !dst || src.type() != CV_8UC1 || rows < 2 || rows % 2 != 0 || src.cols % 2 != 0) {
        qWarning() << "yuv420sp: not a semi-planar YUV frame" << src.cols << "x" << src.rows;
        return;
    }
    cv::Mat in = src.rowRange(0, rows + rows / 2);
    if (!in.isContinuous())
        in = in.clone();
    cv::Mat out;
    cv::cvtColor(in, out, code);
    if (!out.isContinuous())
        out = out.clone();
    std::memcpy(dst, out.data, static_cast<size_t>(rows) * static_cast<size_t>(src.cols) * static_cast<size_t>(channels));
}

enum class Yv12Out { Gray, Rgb24, Rgb32 };

bool yv12(uchar* src, uchar* dst, int width, int height, bool flip, Yv12Out kind)
{
    if (!src || !dst || static_cast<long long>(width) * height < 1 || width < 2)
        return false;
    const size_t n = pixelCount(width, height);
    const uchar* yPlane = src;
    const uchar* vPlane = src + n;         // YV12: V before U
    const uchar* uPlane = vPlane + n / 4;
    const int cw = width / 2;
    for (int y = 0; y < height; ++y) {
        const int outRow = flip ? height - 1 - y : y;
        for (int x = 0; x < width; ++x) {
            const double Y = yPlane[static_cast<size_t>(y) * width + x];
            const size_t ci = static_cast<size_t>(y / 2) * cw + x / 2;
            const double U = (ci < n / 4 ? uPlane[ci] : 128) - 128.0;
            const double V = (ci < n / 4 ? vPlane[ci] : 128) - 128.0;
            const uchar r = clampByte(Y + 1.402 * V);
            const uchar g = clampByte(Y - 0.344136 * U - 0.714136 * V);
            const uchar b = clampByte(Y + 1.772 * U);
            const size_t o = static_cast<size_t>(outRow) * width + x;
            switch (kind) {
            case Yv12Out::Gray:
                dst[o] = clampByte(0.299 * r + 0.587 * g + 0.114 * b);
                break;
            case Yv12Out::Rgb24:
                dst[3 * o] = b; dst[3 * o + 1] = g; dst[3 * o + 2] = r;
                break;
            case Yv12Out::Rgb32:
                dst[4 * o] = b; dst[4 * o + 1] = g; dst[4 * o + 2] = r; dst[4 * o + 3] = 0;
                break;
            }
        }
    }
    return true;
}

// Colour (0 red, 1 green, 2 blue) of a mosaic site of the RGGB pattern.
inline int bayerColour(int x, int y)
{
    if ((y & 1) == 0)
        return (x & 1) == 0 ? 0 : 1;
    return (x & 1) == 0 ? 1 : 2;
}

inline int mean2(int a, int b) { return (a + b + 1) >> 1; }
inline int mean3(int a, int b, int c) { return (a + b + c + 1) / 3; }
inline int mean4(int a, int b, int c, int d) { return (a + b + c + d + 2) >> 2; }

inline int meanOf(const int* v, int n)
{
    switch (n) {
    case 1: return v[0];
    case 2: return mean2(v[0], v[1]);
    case 3: return mean3(v[0], v[1], v[2]);
    case 4: return mean4(v[0], v[1], v[2], v[3]);
    default: return 0;
    }
}

} // namespace

void yuv420sp2rgb(cv::Mat src, uchar* dst) { yuv420sp(src, dst, cv::COLOR_YUV2RGB_NV21, 3); }
void yuv420sp2rgba(cv::Mat src, uchar* dst) { yuv420sp(src, dst, cv::COLOR_YUV2RGBA_NV21, 4); }
void yuv420sp2gray(cv::Mat src, uchar* dst) { yuv420sp(src, dst, cv::COLOR_YUV2GRAY_420, 1); }

bool YV12_to_Gray(uchar* src, uchar* dst, int width, int height, bool, bool flip)
{
    return yv12(src, dst, width, height, flip, Yv12Out::Gray);
}

bool YV12_to_RGB24(uchar* src, uchar* dst, int width, int height, bool, bool flip)
{
    return yv12(src, dst, width, height, flip, Yv12Out::Rgb24);
}

bool YV12_to_RGB32(uchar* src, uchar* dst, int width, int height, bool, bool flip)
{
    return yv12(src, dst, width, height, flip, Yv12Out::Rgb32);
}

void BorderBayer2RGBA(const uchar* row, const uchar* neighbour, uchar* out, int width, int redRow, int redFirst)
{
    if (!row || !out || width <= 0)
        return;
    for (int x = 0; x < width; ++x) {
        // Colour of this site and of the neighbour row's sites.
        const bool first = (x & 1) == 0;
        const bool colourSite = redFirst ? first : !first; // red on a red row, blue on a blue row
        int ch[3] = {0, 0, 0};
        const int own = redRow ? 0 : 2;
        const int other = redRow ? 2 : 0;
        int v[4];
        int n = 0;
        if (colourSite) {
            ch[own] = row[x];
            n = 0;
            if (x > 0) v[n++] = row[x - 1];
            if (x + 1 < width) v[n++] = row[x + 1];
            if (neighbour) v[n++] = neighbour[x];
            ch[1] = meanOf(v, n);
            n = 0;
            if (neighbour && x > 0) v[n++] = neighbour[x - 1];
            if (neighbour && x + 1 < width) v[n++] = neighbour[x + 1];
            ch[other] = meanOf(v, n);
        } else {
            ch[1] = row[x];
            n = 0;
            if (x > 0) v[n++] = row[x - 1];
            if (x + 1 < width) v[n++] = row[x + 1];
            ch[own] = meanOf(v, n);
            ch[other] = neighbour ? neighbour[x] : 0;
        }
        out[4 * x] = static_cast<uchar>(ch[0]);
        out[4 * x + 1] = static_cast<uchar>(ch[1]);
        out[4 * x + 2] = static_cast<uchar>(ch[2]);
        out[4 * x + 3] = 0;
    }
}

void Bayer2RGBA(const uchar* src, uchar* dst, int width, int height)
{
    if (!validBuffers(src, dst, width, height, "Bayer2RGBA"))
        return;
    auto at = [&](int x, int y) { return static_cast<int>(src[static_cast<size_t>(y) * width + x]); };
    for (int y = 0; y < height; ++y) {
        uchar* out = dst + static_cast<size_t>(y) * width * 4;
        if (y == 0 || y == height - 1) {
            const uchar* row = src + static_cast<size_t>(y) * width;
            const uchar* nb = height > 1 ? src + static_cast<size_t>(y == 0 ? 1 : y - 1) * width : nullptr;
            BorderBayer2RGBA(row, nb, out, width, (y & 1) == 0, (y & 1) == 0 ? 1 : 0);
            continue;
        }
        for (int x = 0; x < width; ++x) {
            const int c = bayerColour(x, y);
            int ch[3];
            ch[c] = at(x, y);
            int h[2], vv[2], d[4];
            int nh = 0, nv = 0, nd = 0;
            if (x > 0) h[nh++] = at(x - 1, y);
            if (x + 1 < width) h[nh++] = at(x + 1, y);
            vv[nv++] = at(x, y - 1);
            vv[nv++] = at(x, y + 1);
            if (x > 0) { d[nd++] = at(x - 1, y - 1); d[nd++] = at(x - 1, y + 1); }
            if (x + 1 < width) { d[nd++] = at(x + 1, y - 1); d[nd++] = at(x + 1, y + 1); }
            if (c == 1) {
                // Green site: red and blue come from the row and from the column.
                const bool redRow = (y & 1) == 0;
                ch[redRow ? 0 : 2] = meanOf(h, nh);
                ch[redRow ? 2 : 0] = meanOf(vv, nv);
            } else {
                int g[4];
                int ng = 0;
                for (int i = 0; i < nh; ++i) g[ng++] = h[i];
                for (int i = 0; i < nv; ++i) g[ng++] = vv[i];
                ch[1] = meanOf(g, ng);
                ch[c == 0 ? 2 : 0] = meanOf(d, nd);
            }
            out[4 * x] = static_cast<uchar>(ch[0]);
            out[4 * x + 1] = static_cast<uchar>(ch[1]);
            out[4 * x + 2] = static_cast<uchar>(ch[2]);
            out[4 * x + 3] = 0;
        }
    }
}

void GenRGB2Gray()
{
    QFile f(QStringLiteral("a.c"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qWarning() << "GenRGB2Gray: cannot write a.c";
        return;
    }
    QTextStream out(&f);
    out << "int gaRGB2Gray[] = {";
    for (int i = 0; i < 768; ++i) {
        if (i % 8 == 0)
            out << "\n    ";
        out << gaRGB2Gray[i] << ", ";
    }
    out << "\n};";
}
