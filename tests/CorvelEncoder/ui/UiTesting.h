#pragma once

#include "FakeProber.h"
#include "ModelTestSupport.h"

#include <QtTest>
#include <QtWidgets>

namespace corvel::testing {

// A model with a fake prober, and ways to find, read and drive the widgets over it.
class UiFixture : public ModelFixture
{
protected:
    void SetUp() override { makeModel(&prober); }

    template <class T>
    static T* find(const QObject* root, const char* name)
    {
        T* found = root->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // The widget called `name` in the one under test.
    template <class T = QWidget>
    T* child(const char* name) const
    {
        return find<T>(root, name);
    }
    // The texts of the labels below `root` that are on screen.
    static QStringList labelTexts(const QWidget* root)
    {
        QStringList texts;
        for (const QLabel* label : root->findChildren<QLabel*>())
            if (label->isVisibleTo(root))
                texts.append(label->text());
        return texts;
    }
    // What a user's pick in a menu does: the entry becomes current and the menu reports it.
    static void choose(QComboBox* picker, const QString& id)
    {
        const int index = picker->findData(id);
        ASSERT_GE(index, 0) << qPrintable(id);
        picker->setCurrentIndex(index);
        emit picker->activated(index);
    }
    static void typeInto(QWidget* field, const QString& text)
    {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }
    // One wheel notch over the middle of `widget`, as a passing pointer sends it.
    static void wheelOver(QWidget* widget, int notches = -1)
    {
        const QPointF at = QRectF(widget->rect()).center();
        QWheelEvent wheel(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(widget, &wheel);
    }
    // A drag of `urls` onto `target`, as the event of `type`: enter, drop or leave. Returns
    // whether the target took it.
    static bool sendDrag(QWidget* target, const QList<QUrl>& urls, QEvent::Type type)
    {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QDragLeaveEvent leave;
        QEvent* event = type == QEvent::Drop        ? &drop
                        : type == QEvent::DragLeave ? static_cast<QEvent*>(&leave)
                                                    : &enter;
        QCoreApplication::sendEvent(target, event);
        return event->isAccepted();
    }
    static bool activate(QWidget* window)
    {
        window->show();
        window->activateWindow();
        return QTest::qWaitForWindowActive(window);
    }
    FakeProber prober;
    QWidget* root = nullptr; // the widget under test
};

} // namespace corvel::testing
