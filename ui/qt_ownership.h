#pragma once

#include <QLayout>
#include <QWidget>

#include <memory>
#include <utility>

namespace korvanel {

// Qt's parents own their children and layouts; these hand a new one over
// at once, so nothing is ever owned by nobody.

template <class Widget, class... Args>
Widget* makeChild(QWidget& parent, Args&&... args) {
    auto widget = std::make_unique<Widget>(std::forward<Args>(args)...);
    widget->setParent(&parent);
    return widget.release();
}

// A layout managing parent's children.
template <class Layout>
Layout* makeLayout(QWidget& parent) {
    auto layout = std::make_unique<Layout>();
    parent.setLayout(layout.get());
    return layout.release();
}

// A layout nested in another one.
template <class Layout>
Layout* makeNestedLayout(QBoxLayout& outer, int stretch = 0) {
    auto layout = std::make_unique<Layout>();
    outer.addLayout(layout.get(), stretch);
    return layout.release();
}

}  // namespace korvanel
