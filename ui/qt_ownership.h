#pragma once

#include <QLayout>
#include <QWidget>

#include <memory>
#include <type_traits>
#include <utility>

namespace korvanel {

// How the player's windows own what is inside them: a top-level window,
// dialog or popup menu belongs to whoever made it (a member or a local);
// every widget, layout, action and timer inside one belongs to its Qt parent
// and is made here, handed over at once, so nothing is ever owned by nobody
// or by two. Classes keep plain pointers to what they made.

// A widget or another object of the parent's. A widget made without a
// parent counts as a window until it has one; a popup such as a menu keeps
// its own window type, everything else becomes a plain child widget.
template <class Child, class... Args>
Child* makeChild(QWidget& parent, Args&&... args) {
    auto child = std::make_unique<Child>(std::forward<Args>(args)...);
    if constexpr (std::is_base_of_v<QWidget, Child>) {
        if (child->windowType() == Qt::Popup) {
            child->setParent(&parent, child->windowFlags());
        } else {
            child->setParent(&parent);
        }
    } else {
        child->setParent(&parent);
    }
    return child.release();
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
