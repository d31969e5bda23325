#pragma once
#include <QProgressDialog>

// Progress box of the grey family, shown at once, 0..100.
class CComp_ProgressDialog : public QProgressDialog
{
    Q_OBJECT
public:
    explicit CComp_ProgressDialog(QWidget* parent = nullptr);
};
