#include "ui/window_accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

#include <memory>

namespace korvanel {

namespace {

// A top-level window as a frame; Qt deletes it through its base, whose
// destructor only its cache may call.
class FrameInterface final : public QAccessibleWidget {
public:
    explicit FrameInterface(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) {}
    ~FrameInterface() override = default;
};

// Asked for each class of an object from the most derived up: "QWidget" is
// reached only by widgets that no more particular interface claimed.
QAccessibleInterface* windowAsFrame(const QString& className, QObject* object) {
    if (className != QLatin1String("QWidget") || object == nullptr || !object->isWidgetType()) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    if (!widget->isWindow() || widget->windowType() != Qt::Window) {
        return nullptr;
    }
    // With no accessible name of its own a window's name is its title,
    // read each time it is asked. Qt's accessibility cache owns the result.
    return std::make_unique<FrameInterface>(widget).release();
}

}  // namespace

WindowAccessibility::WindowAccessibility() { QAccessible::installFactory(windowAsFrame); }

WindowAccessibility::~WindowAccessibility() { QAccessible::removeFactory(windowAsFrame); }

}  // namespace korvanel
