#pragma once
#include <QDialog>

// Plain question box of the grey family: a scrolled text with Cancel and OK.
class CComp_SimpMsgBox : public QDialog
{
    Q_OBJECT
public:
    explicit CComp_SimpMsgBox(const QString& text, QWidget* parent = nullptr);
};
