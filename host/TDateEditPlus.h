#pragma once
// A masked dd/mm/yyyy date edit that can hold an invalid text (it is checked
// by the screen when the edit is left). Valid dates are shown in blue; the
// weekday of a valid date is shown as a tooltip and by weekdayName().

#include <QDate>
#include <QLineEdit>

class TDateEditPlus : public QLineEdit
{
    Q_OBJECT
public:
    explicit TDateEditPlus(QWidget *parent = nullptr);

    bool IsDateValid() const;      // the text is a valid date
    double GetDate() const;        // day count (day 0 = 30/12/1899); 0 when no valid date
    void SetDate(double dayCount); // 0 or less clears the edit
    QString EditText() const;      // the text as displayed, mask literals included
    bool isEmptyText() const;      // nothing typed
    void Clear();
    QString weekdayName() const;   // "Domingo" .. "Sábado"; empty when invalid

    static QString weekdayName(int qtDayOfWeek);
    // The date a "dd/mm/yyyy" text names; invalid for anything else and for
    // dates on or before 30/12/1899 (day counts of 0 and below mean no date).
    static QDate parseDate(const QString &text);
};
