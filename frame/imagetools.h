#pragma once
#include <QtGlobal>
#include <opencv2/core.hpp>

#include <functional>

// Pixel-format conversions and image moves on raw frame buffers.
// Grey buffers are width x height bytes; 32-bit buffers are width x height
// pixels of 4 bytes, rows back to back. Bytes 0, 1, 2 of a 32-bit pixel are
// the colour channels (byte 0 plays red in the grey and hue conversions);
// byte 3 is written as 0. All functions are stateless; bad input (null
// buffers, zero sizes, empty images) leaves the output alone and logs a
// warning.

// Luma table: entry 256 k + i = floor(i * w_k * 1024), w = 0.299, 0.587, 0.114.
extern const int gaRGB2Gray[768];

void RGB2Gray(uchar* dst, int* src, int width, int height);
void RGBA2Gray(uchar* dst, int* src, int width, int height);
void RGBA2Hue(uchar* dst, int* src, int width, int height);
uchar RGB2HueByte(uchar r, uchar g, uchar b);
void Gray2RGBA(uchar* src, int* dst, int width, int height);
// The same conversions for a run of n 32-bit pixels, and for the part `box`
// (clipped to the frame) of a frame of width x height, each pixel at its own
// place in dst: grey (luma table) when grey is true, else hue. The results
// are RGBA2Gray's and RGBA2Hue's to the bit.
void RGBA2GrayRow(uchar* dst, const uchar* src, size_t n);
void RGBA2HueRow(uchar* dst, const uchar* src, size_t n);
void RGBA2GrayHueRect(uchar* dst, const int* src, int width, int height, const cv::Rect& box, bool grey);

// Runs work(first, last) over bands of rows 0..rows-1 that together cover
// them once: side by side on the thread pool when there are many pixels
// (rows x rowPixels) and pool threads to spare, else in one call here.
// Returns when every band is done. For per-pixel work whose bands are
// independent (copies, conversions).
void ForRowBands(int rows, size_t rowPixels, const std::function<void(int first, int last)>& work);

// Moves the content right by dx and down by dy; uncovered pixels become 0.
// dst gets src's size and type when it does not have them.
void MoveImage(cv::Mat src, cv::Mat& dst, int dx, int dy);
// Shift, then rotation by angle degrees about centre, on a black-padded
// square so that corners are not cut; dst has src's size.
void TransformImage(cv::Mat src, cv::Mat& dst, cv::Point shift, cv::Point centre, double angle);

// Converters kept for completeness of the module.
void Threshold(const cv::Mat& src, const cv::Mat& mask, cv::Mat dst, int lo, int hi);
void Gray2RGB(uchar* src, int* dst, int width, int height);
void Gray24To8(uchar* dst, uchar* src, int width, int height);
void RGB2RGBA(uchar* dst, uchar* src, int width, int height);
void ExtractRGBA(uchar* p0, uchar* p1, uchar* p2, uchar* src, int width, int height);
void GenRGBA(uchar* p0, uchar* p1, uchar* p2, uchar* dst, int width, int height);
void yuv420sp2rgb(cv::Mat src, uchar* dst);
void yuv420sp2rgba(cv::Mat src, uchar* dst);
void yuv420sp2gray(cv::Mat src, uchar* dst);
bool YV12_to_Gray(uchar* src, uchar* dst, int width, int height, bool unused, bool flip);
bool YV12_to_RGB24(uchar* src, uchar* dst, int width, int height, bool unused, bool flip);
bool YV12_to_RGB32(uchar* src, uchar* dst, int width, int height, bool unused, bool flip);
// Bilinear demosaic of an RGGB mosaic (red at row 0, column 0) into 32-bit pixels.
void Bayer2RGBA(const uchar* src, uchar* dst, int width, int height);
// One border row of the demosaic: `row` is the border row, `neighbour` the
// only adjacent row; redRow: the row holds red samples; redFirst: its first
// sample is red (or green on a blue row).
void BorderBayer2RGBA(const uchar* row, const uchar* neighbour, uchar* out, int width, int redRow, int redFirst);
// Writes gaRGB2Gray as source text into "a.c" in the working directory.
void GenRGB2Gray();
