#pragma once

#include <QString>
#include <QTableWidget>

#include <memory>
#include <vector>

class CompareErr;

// The discrepancies of a verification, one row each: the file and what is
// wrong with it.
class CheckErrTable : public QTableWidget
{
    Q_OBJECT
public:
    explicit CheckErrTable(QWidget *parent = nullptr);

    // Replaces the rows and rebuilds reportText. Keeps no pointer to a record.
    void setErrors(const std::vector<std::unique_ptr<CompareErr>> &errors);

    // One line per row: path, tab, message, line feed.
    QString reportText;
};
