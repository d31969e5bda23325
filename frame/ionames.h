#pragma once
#include <QString>

// Fixed machine signal names, four texts per entry in the language order of
// the message table (Simplified Chinese, English, Traditional Chinese,
// Japanese), indexed [entry][gLan].

constexpr int kInNameCount = 16;
constexpr int kOutNameCount = 14;
constexpr int kCustomIOColumns = 8;

// Names an input of the multiple-detection mode can be given.
extern const QString gInName[kInNameCount][4];
// Names an output of the multiple-detection mode can be given.
extern const QString gOutName[kOutNameCount][4];
// Column labels of the custom I/O name page: input column c is board input
// TriginNo[c], output column 0 is output 1, column c the output of step c - 1.
extern const QString gCustomInputName[kCustomIOColumns][4];
extern const QString gCustomOutputName[kCustomIOColumns][4];
