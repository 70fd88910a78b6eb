#pragma once

#include <QBoxLayout>
#include <QString>
#include <QWidget>

#include <functional>

class QFileDialog;
class QLabel;
class QLineEdit;

// One row of a parameter dialog: a caption, a line edit holding a path and a
// button that fills the line edit from a directory or file chooser.
class ChooseDirWidget : public QWidget
{
    Q_OBJECT
public:
    // Runs a chooser made ready by the row and gives back the path the user
    // chose, or an empty string when the chooser was cancelled.
    using ChooserRun = std::function<QString(QFileDialog &)>;

    ChooseDirWidget(const QString &labelText, QBoxLayout::Direction direction, QWidget *parent);

    // The text exactly as it stands in the line edit.
    QString path() const;
    void setPath(const QString &path);

    // Replaces the user at the chooser: the row still makes the chooser and
    // takes the answer and the filter choice, but the given function answers
    // it instead of a person. An empty function restores the user.
    void setChooserRun(ChooserRun run);

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

private:
    ChooserRun chooserRun;
};
