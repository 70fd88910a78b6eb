#include "checkerrtable.h"

#include "compareerr.h"

#include <QStringList>
#include <QTableWidgetItem>

CheckErrTable::CheckErrTable(QWidget *parent)
    : QTableWidget(parent)
{
    setColumnCount(2);
    setHorizontalHeaderLabels(QStringList() << tr("File") << tr("Error"));
    setShowGrid(false);
}

namespace {
QTableWidgetItem *readOnlyItem(const QString &text)
{
    auto *item = new QTableWidgetItem(text, QTableWidgetItem::Type);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}
}

void CheckErrTable::setErrors(const std::vector<std::unique_ptr<CompareErr>> &errors)
{
    clearContents();
    setRowCount(static_cast<int>(errors.size()));
    reportText.clear();

    int row = 0;
    for (const auto &error : errors) {
        const QString message = error->errorText();
        setItem(row, 0, readOnlyItem(error->fileName));
        setItem(row, 1, readOnlyItem(message));
        // Plain concatenation: a path may itself contain "%1".
        reportText += error->fileName + QLatin1Char('\t') + message + QLatin1Char('\n');
        ++row;
    }
    resizeColumnsToContents();
}
