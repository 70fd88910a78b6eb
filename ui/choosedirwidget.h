#pragma once

#include <QBoxLayout>
#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;

// One row of a parameter dialog: a caption, a line edit holding a path and a
// button that fills the line edit from a directory or file chooser.
class ChooseDirWidget : public QWidget
{
    Q_OBJECT
public:
    ChooseDirWidget(const QString &labelText, QBoxLayout::Direction direction, QWidget *parent);

    // The text exactly as it stands in the line edit.
    QString path() const;
    void setPath(const QString &path);

private:
    QLineEdit *pathEdit;

public:
    // What the browse button asks for; the owning dialog sets these once.
    bool chooseDirectory;
    bool openExisting;

private:
    QLabel *label;

public:
    QString filter;
    // The file dialog writes the user's filter choice back here, so the next
    // opening starts with the same filter.
    QString selectedFilter;

private slots:
    void chooseDirClicked();
};
