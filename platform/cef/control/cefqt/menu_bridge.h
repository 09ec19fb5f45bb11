// Context menus: the engine's standard actions as a menu model, and a QMenu built from
// a model after the client changed it.
#pragma once

#include "include/cef_menu_model.h"

#include <QHash>
#include <QPointer>

#include <functional>

class QAction;
class QMenu;

namespace cefqt {

// Adds the standard actions of `menu` that have a runtime command id to `model`
// (separators kept between groups). Returns the actions by command id.
QHash<int, QPointer<QAction>> SeedModelFromMenu(QMenu* menu, CefRefPtr<CefMenuModel> model);

// Rebuilds `menu` from `model`. Choosing an item calls `onCommand(id)`.
void FillMenuFromModel(QMenu* menu, CefRefPtr<CefMenuModel> model, const std::function<void(int)>& onCommand);

} // namespace cefqt
