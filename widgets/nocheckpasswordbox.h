#pragma once
#include "widgets/passwordbox.h"

// One-shot password gate in front of stopping the inspection of a camera: exec() returns
// QDialog::Accepted only for the exact stored password; the login level is
// not touched.
class NocheckPasswordBox : public PasswordBox
{
    Q_OBJECT
public:
    explicit NocheckPasswordBox(QWidget* parent);

    int result() const { return m_result; }

public slots:
    void accept() override;

private:
    int m_result = 0;
};
