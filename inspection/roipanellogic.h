#pragma once
#include <QRect>
#include <QVector>

class WizardPara;

// The arithmetic of the camera view's parameter panel, without a screen:
// default parameters per function type, the packed halves some types keep
// in one parameter, slider set-ups, and where the panel goes.
class RoiPanelLogic
{
public:
    static constexpr int kTypes = 11; // function types 0..10

    // Default A, B, C of a function type. 1 for types 0..10; else the type-0
    // defaults and 0. Type 6 keeps the B and C passed in.
    static int GetFuncInitParam(int type, int& a, int& b, int& c);
    // The type is offered on the function button (its enable setting is on).
    static bool typeEnabled(int type, const WizardPara& p);
    // The next enabled type after `type`, wrapping from 10 to 0; -1 when no
    // type is enabled.
    static int nextEnabledType(int type, const WizardPara& p);
    // Any type other than 0 enabled: the function button is worth showing.
    static bool anyExtraTypeEnabled(const WizardPara& p);
    // Message number of the function button's caption for a type.
    static int typeCaption(int type);

    // Packed halves. Type 1 keeps two grey limits in the low and second byte
    // of C; types 7, 8 and 9 keep a minimum and a maximum in the low and high
    // 16 bits.
    static int byteHalf(int v, bool second) { return second ? (v >> 8) & 0xFF : v & 0xFF; }
    static int withByteHalf(int v, bool second, int x);
    static int wordHalf(int v, bool high)
    {
        const unsigned u = static_cast<unsigned>(v);
        return static_cast<int>(high ? u >> 16 : u & 0xFFFFu);
    }
    static int withWordHalf(int v, bool high, int x);

    struct SliderSetup
    {
        int min = 0;
        int max = 0;
        int value = 0;
        int message = 0; // caption
    };
    // The three sliders (A, B, C) for a ROI of type t with the toggle off.
    static void sliderSetups(int t, int a, int b, int c, SliderSetup out[3]);
    // The slider that re-shows a packed half after the toggle flips
    // (index 0..2 for A..C), or none: returns the number filled (0..3), with
    // the slider index of each in which[].
    static int toggleSetups(int t, bool toggle, int a, int b, int c, SliderSetup out[3], int which[3]);

    struct Visibility
    {
        bool a = false;
        bool b = false;
        bool c = false;
        int rows() const { return int(a) + int(b) + int(c); }
    };
    static Visibility sliderVisibility(int t, bool showAllParam);

    // What the placement needs of the selected ROI, in screen coordinates.
    struct RoiExtent
    {
        int kind = 1;             // 1 rectangle, 2 polygon, 4 ring
        int top = 0;              // top of the frame box x roiScaleY
        int bottom = 0;           // (bottom + 1) x roiScaleY
        int ringRadius = 0;
        int ringCenterY = 0;
        QVector<int> polygonYs;   // screen y of every point
    };
    // Top y of the panel for `rows` visible slider rows on a screen showH high.
    static int panelTop(const RoiExtent& roi, int rows, int showH);

    // Control geometry of the panel's button row (x ranges as the panel's
    // own, Japanese wider), in this order: function label, function button,
    // param switch, combo, ROI switch, object button, four size buttons.
    static QVector<QRect> buttonRow(int y, bool japanese);
    // The bottom row: generate, sync ROI, sync param, move toggle, four move
    // buttons, move all.
    static QVector<QRect> bottomRow(int showH);
    // Keeps a row on a screen `width` wide: unchanged when it fits; moved
    // left when that suffices; else spread evenly over the width, keeping
    // order and gaps in proportion. Nothing leaves the screen or overlaps.
    static QVector<QRect> fitRow(const QVector<QRect>& row, int width);
    // The same within the x range left..right (inclusive): moved right or
    // left into it when that suffices, else spread over it.
    static QVector<QRect> fitRow(const QVector<QRect>& row, int left, int right);
};
