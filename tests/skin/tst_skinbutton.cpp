#include "skin/SkinButton.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTest>

namespace {
using Look = CxSkinButton::Look;
using Picture = CxSkinButton::Picture;
using Edge = CxSkinButton::Edge;

const QRgb kNormal = qRgb(200, 0, 0);
const QRgb kHover = qRgb(0, 0, 200);
const QRgb kPressed = qRgb(0, 160, 0);
const QRgb kParent = qRgb(250, 240, 10);

void writePicture(const QString& name, QRgb colour)
{
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(colour);
    QVERIFY(image.save(QStringLiteral("images/") + name, "BMP"));
}

// Left half black (the button), right half white (see-through).
void writeHalfMask(const QString& name)
{
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            image.setPixel(x, y, qRgb(0, 0, 0));
    QVERIFY(image.save(QStringLiteral("images/") + name, "BMP"));
}
} // namespace

Q_DECLARE_METATYPE(CxSkinButton::State)
Q_DECLARE_METATYPE(CxSkinButton::Pictures)
Q_DECLARE_METATYPE(CxSkinButton::Look)

class TestSkinButton : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void lookFromState_data();
    void lookFromState();
    void kindFromStyle_data();
    void kindFromStyle();
    void hoverPicture_data();
    void hoverPicture();
    void clicksCountOnlyInsideTheOutline();
    void pressLeaveReleaseDoesNotClick();
    void cutOutDrawing();
    void allWhiteMaskHidesTheButton();
    void missingPicturesDrawPlainly();
    void checkBoxAndRadioGroup();

private:
    CxSkinButton* makeButton(const QString& hover = QStringLiteral("hover.bmp"),
                             const QString& mask = QStringLiteral("half_mask.bmp"));
    TestEnvironment m_env;
    QWidget* m_parent = nullptr;
};

void TestSkinButton::initTestCase()
{
    QVERIFY(m_env.isValid());
    QVERIFY(QDir::setCurrent(m_env.root()));
    QVERIFY(QDir().mkpath(QStringLiteral("images")));
    writePicture(QStringLiteral("normal.bmp"), kNormal);
    writePicture(QStringLiteral("hover.bmp"), kHover);
    writePicture(QStringLiteral("pressed.bmp"), kPressed);
    writeHalfMask(QStringLiteral("half_mask.bmp"));
    QImage white(40, 20, QImage::Format_RGB32);
    white.fill(Qt::white);
    QVERIFY(white.save(QStringLiteral("images/white_mask.bmp"), "BMP"));
}

void TestSkinButton::init()
{
    m_parent = new QWidget;
    m_parent->setAutoFillBackground(true);
    QPalette palette = m_parent->palette();
    palette.setColor(QPalette::Window, QColor(kParent));
    m_parent->setPalette(palette);
    m_parent->resize(200, 100);
}

void TestSkinButton::cleanup()
{
    delete m_parent;
    m_parent = nullptr;
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

CxSkinButton* TestSkinButton::makeButton(const QString& hover, const QString& mask)
{
    auto* button = new CxSkinButton(m_parent);
    button->SetSkin(QStringLiteral("images/normal.bmp"), QStringLiteral("images/pressed.bmp"),
                    hover.isEmpty() ? QString() : QStringLiteral("images/") + hover,
                    mask.isEmpty() ? QString() : QStringLiteral("images/") + mask);
    button->SetBorder(false);
    button->setGeometry(10, 10, 80, 40); // twice the pictures' size: stretched
    m_parent->show();
    return button;
}

void TestSkinButton::lookFromState_data()
{
    QTest::addColumn<CxSkinButton::State>("state");
    QTest::addColumn<CxSkinButton::Pictures>("pictures");
    QTest::addColumn<Look>("look");
    const CxSkinButton::Pictures all{true, true, true, true, true};
    const CxSkinButton::Pictures plain{true, true, false, true, false};
    QTest::addRow("idle") << CxSkinButton::State{} << all
                          << Look{Picture::Normal, Edge::Raised, false, false};
    QTest::addRow("hover") << CxSkinButton::State{true, false, false, true, false} << all
                           << Look{Picture::Hover, Edge::Raised, false, false};
    QTest::addRow("hover without a hover picture")
        << CxSkinButton::State{true, false, false, true, false} << plain
        << Look{Picture::Normal, Edge::Raised, false, false};
    QTest::addRow("focus picture") << CxSkinButton::State{true, false, false, false, true} << all
                                   << Look{Picture::Focus, Edge::Raised, false, false};
    QTest::addRow("hover wins over focus")
        << CxSkinButton::State{true, false, false, true, true} << all
        << Look{Picture::Hover, Edge::Raised, false, false};
    QTest::addRow("pushed") << CxSkinButton::State{true, true, false, true, false} << all
                            << Look{Picture::Pressed, Edge::Sunken, true, false};
    QTest::addRow("checked") << CxSkinButton::State{true, false, true, false, false} << all
                             << Look{Picture::Pressed, Edge::Sunken, true, false};
    QTest::addRow("disabled ignores hover and check")
        << CxSkinButton::State{false, false, true, true, false} << all
        << Look{Picture::Disabled, Edge::Raised, false, true};
    QTest::addRow("no pictures at all")
        << CxSkinButton::State{true, true, false, false, false} << CxSkinButton::Pictures{}
        << Look{Picture::None, Edge::Sunken, true, false};
}

void TestSkinButton::lookFromState()
{
    QFETCH(CxSkinButton::State, state);
    QFETCH(CxSkinButton::Pictures, pictures);
    QFETCH(Look, look);
    QVERIFY(CxSkinButton::LookFor(state, pictures) == look);
}

void TestSkinButton::kindFromStyle_data()
{
    QTest::addColumn<quint32>("style");
    QTest::addColumn<int>("kind");
    QTest::addRow("push") << 0u << int(CxSkinButton::PushButton);
    QTest::addRow("default push") << 1u << int(CxSkinButton::PushButton);
    QTest::addRow("auto check box") << 3u << int(CxSkinButton::CheckBox);
    QTest::addRow("auto radio") << 9u << int(CxSkinButton::RadioButton);
    QTest::addRow("auto check box with other bits") << 0x10003u << int(CxSkinButton::CheckBox);
    QTest::addRow("plain radio is no auto radio") << 4u << int(CxSkinButton::PushButton);
}

void TestSkinButton::kindFromStyle()
{
    QFETCH(quint32, style);
    QTEST(int(CxSkinButton::KindFromStyle(style)), "kind");
}

void TestSkinButton::hoverPicture_data()
{
    QTest::addColumn<QString>("hover");
    QTest::addColumn<QRgb>("shown");
    QTest::addRow("hover picture") << QStringLiteral("hover.bmp") << kHover;
    QTest::addRow("none: the normal picture stays") << QString() << kNormal;
}

void TestSkinButton::hoverPicture()
{
    QFETCH(QString, hover);
    QFETCH(QRgb, shown);
    CxSkinButton* button = makeButton(hover);
    QVERIFY(QTest::qWaitForWindowExposed(m_parent));
    QCOMPARE(button->grab().toImage().pixel(5, 20), kNormal);
    QTest::mouseMove(button, QPoint(10, 20));
    QTRY_VERIFY(button->IsHover());
    QCOMPARE(button->grab().toImage().pixel(5, 20), shown);
    // Leaving clears it.
    QTest::mouseMove(m_parent, QPoint(150, 80));
    QTRY_VERIFY(!button->IsHover());
    QCOMPARE(button->grab().toImage().pixel(5, 20), kNormal);
}

void TestSkinButton::clicksCountOnlyInsideTheOutline()
{
    CxSkinButton* button = makeButton();
    QVERIFY(QTest::qWaitForWindowExposed(m_parent));
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    // The mask's black half, stretched, covers x < 40 of the 80-pixel button.
    QVERIFY(button->HasRegion());
    QCOMPARE(button->Region().boundingRect(), QRect(0, 0, 40, 40));
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(60, 20));
    QCOMPARE(clicked.size(), 0);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 20));
    QCOMPARE(clicked.size(), 1);
}

void TestSkinButton::pressLeaveReleaseDoesNotClick()
{
    CxSkinButton* button = makeButton();
    QVERIFY(QTest::qWaitForWindowExposed(m_parent));
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 20));
    QVERIFY(button->IsPressedFlag());
    QVERIFY(button->isDown());
    QVERIFY(!button->IsHover());
    QCOMPARE(button->grab().toImage().pixel(5, 20), kPressed);
    // Onto the see-through half: still over the widget but off the outline.
    QMouseEvent away(QEvent::MouseMove, QPointF(60, 20), button->mapToGlobal(QPointF(60, 20)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(button, &away);
    QVERIFY(!button->isDown());
    QCOMPARE(button->grab().toImage().pixel(5, 20), kNormal);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(60, 20));
    QCOMPARE(clicked.size(), 0);
    QVERIFY(!button->IsPressedFlag());
}

void TestSkinButton::cutOutDrawing()
{
    makeButton();
    QVERIFY(QTest::qWaitForWindowExposed(m_parent));
    const QImage shot = m_parent->grab().toImage();
    QCOMPARE(shot.pixel(10 + 20, 10 + 20), kNormal);
    // Where the mask is white the window under the button shows through.
    QCOMPARE(shot.pixel(10 + 60, 10 + 20), kParent);
}

void TestSkinButton::allWhiteMaskHidesTheButton()
{
    CxSkinButton* button =
        makeButton(QStringLiteral("hover.bmp"), QStringLiteral("white_mask.bmp"));
    QVERIFY(QTest::qWaitForWindowExposed(m_parent));
    QVERIFY(button->HasRegion());
    QVERIFY(button->Region().isEmpty());
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 20));
    QCOMPARE(clicked.size(), 0);
    QCOMPARE(m_parent->grab().toImage().pixel(30, 30), kParent);
}

void TestSkinButton::missingPicturesDrawPlainly()
{
    auto* button = new CxSkinButton(m_parent);
    QVERIFY(!button->SetSkin(QStringLiteral("images/nothing.bmp"), QString(), QString(),
                             QStringLiteral("images/no_mask.bmp")));
    button->SetBorder(false);
    button->setGeometry(10, 10, 80, 40);
    m_parent->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_parent));
    // Rectangular, face-coloured, and it still clicks.
    QVERIFY(!button->HasRegion());
    QCOMPARE(QColor(button->grab().toImage().pixel(70, 30)),
             button->palette().color(QPalette::Button));
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(75, 35));
    QCOMPARE(clicked.size(), 1);
}

void TestSkinButton::checkBoxAndRadioGroup()
{
    CxSkinButton* check = makeButton();
    check->SetKind(CxSkinButton::CheckBox);
    QVERIFY(QTest::qWaitForWindowExposed(m_parent));
    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(20, 20));
    QVERIFY(check->isChecked());
    QCOMPARE(check->grab().toImage().pixel(5, 20), kPressed);
    check->setFocus();
    QTest::keyClick(check, Qt::Key_Space);
    QVERIFY(!check->isChecked());
    // Released off the outline: no toggle.
    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(60, 20));
    QVERIFY(!check->isChecked());

    auto* first = new CxSkinButton(m_parent);
    auto* second = new CxSkinButton(m_parent);
    for (CxSkinButton* radio : {first, second}) {
        radio->SetKind(CxSkinButton::RadioButton);
        radio->resize(30, 20);
    }
    second->move(0, 60);
    first->show();
    second->show();
    QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(first->isChecked());
    second->setFocus();
    QTest::keyClick(second, Qt::Key_Space);
    QVERIFY(second->isChecked());
    QVERIFY(!first->isChecked());
    // A checked radio button stays checked when clicked again.
    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(second->isChecked());
    // The check box is no part of the radio group.
    check->setChecked(true);
    QVERIFY(second->isChecked());

    // A push button never stays checked.
    auto* push = new CxSkinButton(m_parent);
    push->SetKind(CxSkinButton::PushButton);
    push->setChecked(true);
    QVERIFY(!push->isChecked());
}

QTEST_MAIN(TestSkinButton)
#include "tst_skinbutton.moc"
