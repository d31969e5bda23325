#pragma once
#include "widgets/passwordbox.h"

// A login box that keeps the level to itself instead of the main window's;
// its factory password is always the hourly form.
class PasswordDialog : public PasswordBox
{
    Q_OBJECT
public:
    explicit PasswordDialog(QWidget* parent);

    int level() const { return m_level; }

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* e) override;

private:
    int m_level = 0;
};
