// The icon the program gives its windows, in every size it ships.

#include "applicationicon.h"
#include "mainwindow.h"
#include "mainwindowtest.h"

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QtTest>

class TestApplicationIcon : public MainWindowTest
{
    Q_OBJECT

private slots:
    void everyWindowHasTheIconInEveryShippedSize_data();
    void everyWindowHasTheIconInEveryShippedSize();
};

void TestApplicationIcon::everyWindowHasTheIconInEveryShippedSize_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256, 512})
        QTest::newRow(qPrintable(QStringLiteral("%1x%1").arg(size))) << size;
}

void TestApplicationIcon::everyWindowHasTheIconInEveryShippedSize()
{
    QFETCH(int, size);
    const QSize square(size, size);

    // The file the hicolor theme is given.
    const QString shipped = QStringLiteral(ORVALEN_SOURCE_DIR "/app/icons/orvalen-%1.png").arg(size);
    QCOMPARE(QImage(shipped).size(), square);

    // What main() sets before it opens the first window.
    ApplicationIcon::install();
    QVERIFY(ApplicationIcon::sizes().contains(size));
    QVERIFY(QApplication::windowIcon().availableSizes().contains(square));
    QCOMPARE(QApplication::windowIcon().pixmap(square).size(), square);
    MainWindow window;
    QVERIFY(window.windowIcon().availableSizes().contains(square));
    QMessageBox box;
    QVERIFY(box.windowIcon().availableSizes().contains(square));
}

QTEST_MAIN(TestApplicationIcon)
#include "tst_applicationicon.moc"
