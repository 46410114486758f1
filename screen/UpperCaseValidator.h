#pragma once
// Input rule of the branch-code edit: letters appear upper case as typed,
// and the text never grows beyond the edit's limit.

#include <QValidator>

class UpperCaseValidator : public QValidator
{
    Q_OBJECT
public:
    UpperCaseValidator(int maxLength, QObject *parent = nullptr);
    State validate(QString &input, int &pos) const override;
    void fixup(QString &input) const override;

private:
    int m_maxLength;
};
