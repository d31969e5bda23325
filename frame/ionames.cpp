#include "frame/ionames.h"

// The Japanese column repeats the English names.
const QString gInName[kInNameCount][4] = {
    {QStringLiteral("开模到位"), QStringLiteral("Mol op"), QStringLiteral("開模到位"), QStringLiteral("Mol op")},
    {QStringLiteral("安全门关"), QStringLiteral("clo door"), QStringLiteral("安全門關"), QStringLiteral("clo door")},
    {QStringLiteral("安全门开"), QStringLiteral("op door"), QStringLiteral("安全門開"), QStringLiteral("op door")},
    {QStringLiteral("顶针退"), QStringLiteral("Thim O"), QStringLiteral("頂針退"), QStringLiteral("Thim O")},
    {QStringLiteral("顶针进"), QStringLiteral("Thim I"), QStringLiteral("頂針進"), QStringLiteral("Thim I")},
    {QStringLiteral("开模阀"), QStringLiteral("Mol val"), QStringLiteral("開模閥"), QStringLiteral("Mol val")},
    {QStringLiteral("机械手"), QStringLiteral("Manip"), QStringLiteral("機械手"), QStringLiteral("Manip")},
    {QStringLiteral("复位键"), QStringLiteral("Res but"), QStringLiteral("復位鍵"), QStringLiteral("Res but")},
    {QStringLiteral("滑块退"), QStringLiteral("Slid back"), QStringLiteral("滑塊退"), QStringLiteral("Slid back")},
    {QStringLiteral("机手上行"), QStringLiteral("Mac up"), QStringLiteral("機手上行"), QStringLiteral("Mac up")},
    {QStringLiteral("中子A进"), QStringLiteral("Neu A I"), QStringLiteral("中子A進"), QStringLiteral("Neu A I")},
    {QStringLiteral("中子A退"), QStringLiteral("Neu A O"), QStringLiteral("中子A退"), QStringLiteral("Neu A O")},
    {QStringLiteral("中子B进"), QStringLiteral("Neu B I"), QStringLiteral("中子B進"), QStringLiteral("Neu B I")},
    {QStringLiteral("中子B退"), QStringLiteral("Neu B O"), QStringLiteral("中子B退"), QStringLiteral("Neu B O")},
    {QStringLiteral("中子C进"), QStringLiteral("Neu C I"), QStringLiteral("中子C進"), QStringLiteral("Neu C I")},
    {QStringLiteral("中子C退"), QStringLiteral("Neu C O"), QStringLiteral("中子C退"), QStringLiteral("Neu C O")},
};

const QString gOutName[kOutNameCount][4] = {
    {QStringLiteral("允许合模"), QStringLiteral("Al clam"), QStringLiteral("允許合模"), QStringLiteral("Al clam")},
    {QStringLiteral("允许顶针"), QStringLiteral("Al thim"), QStringLiteral("允許頂針"), QStringLiteral("Al thim")},
    {QStringLiteral("中子A进"), QStringLiteral("Neu A I"), QStringLiteral("中子A進"), QStringLiteral("Neu A I")},
    {QStringLiteral("中子A退"), QStringLiteral("Neu A O"), QStringLiteral("中子A退"), QStringLiteral("Neu A O")},
    {QStringLiteral("中子B进"), QStringLiteral("Neu B I"), QStringLiteral("中子B進"), QStringLiteral("Neu B I")},
    {QStringLiteral("中子B退"), QStringLiteral("Neu B O"), QStringLiteral("中子B退"), QStringLiteral("Neu B O")},
    {QStringLiteral("中子C进"), QStringLiteral("Neu C I"), QStringLiteral("中子C進"), QStringLiteral("Neu C I")},
    {QStringLiteral("中子C退"), QStringLiteral("Neu C O"), QStringLiteral("中子C退"), QStringLiteral("Neu C O")},
    {QStringLiteral("允许绞牙"), QStringLiteral("Al thread"), QStringLiteral("允許絞牙"), QStringLiteral("Al thread")},
    {QStringLiteral("允许旋转"), QStringLiteral("Rot"), QStringLiteral("允許旋轉"), QStringLiteral("Rot")},
    {QStringLiteral("允许左移"), QStringLiteral("L shift"), QStringLiteral("允許左移"), QStringLiteral("L shift")},
    {QStringLiteral("允许右移"), QStringLiteral("R shift"), QStringLiteral("允許右移"), QStringLiteral("R shift")},
    {QStringLiteral("允许移模"), QStringLiteral("Mov mol"), QStringLiteral("允許移模"), QStringLiteral("Mov mol")},
    {QStringLiteral("机手动作"), QStringLiteral("Mac mov"), QStringLiteral("機手動作"), QStringLiteral("Mac mov")},
};

// The Traditional Chinese labels are empty.
const QString gCustomInputName[kCustomIOColumns][4] = {
    {QStringLiteral("输入 1"), QStringLiteral("Input 1"), QStringLiteral(""), QStringLiteral("入力 1")},
    {QStringLiteral("输入 3"), QStringLiteral("Input 3"), QStringLiteral(""), QStringLiteral("入力 3")},
    {QStringLiteral("输入 4"), QStringLiteral("Input 4"), QStringLiteral(""), QStringLiteral("入力 4")},
    {QStringLiteral("输入 5"), QStringLiteral("Input 5"), QStringLiteral(""), QStringLiteral("入力 5")},
    {QStringLiteral("输入 6"), QStringLiteral("Input 6"), QStringLiteral(""), QStringLiteral("入力 6")},
    {QStringLiteral("输入 7"), QStringLiteral("Input 7"), QStringLiteral(""), QStringLiteral("入力 7")},
    {QStringLiteral("输入 8"), QStringLiteral("Input 8"), QStringLiteral(""), QStringLiteral("入力 8")},
    {QStringLiteral("输入 9"), QStringLiteral("Input 9"), QStringLiteral(""), QStringLiteral("入力 9")},
};

const QString gCustomOutputName[kCustomIOColumns][4] = {
    {QStringLiteral("输出 1"), QStringLiteral("Output 1"), QStringLiteral(""), QStringLiteral("出力 1")},
    {QStringLiteral("输出 2"), QStringLiteral("Output 2"), QStringLiteral(""), QStringLiteral("出力 2")},
    {QStringLiteral("输出 4"), QStringLiteral("Output 4"), QStringLiteral(""), QStringLiteral("出力 4")},
    {QStringLiteral("输出 5"), QStringLiteral("Output 5"), QStringLiteral(""), QStringLiteral("出力 5")},
    {QStringLiteral("输出 6"), QStringLiteral("Output 6"), QStringLiteral(""), QStringLiteral("出力 6")},
    {QStringLiteral("输出 7"), QStringLiteral("Output 7"), QStringLiteral(""), QStringLiteral("出力 7")},
    {QStringLiteral("输出 8"), QStringLiteral("Output 8"), QStringLiteral(""), QStringLiteral("出力 8")},
    {QStringLiteral("输出 9"), QStringLiteral("Output 9"), QStringLiteral(""), QStringLiteral("出力 9")},
};
