#include "cefqt/menu_bridge.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QString>
#include <QWebEnginePage>

namespace cefqt {
namespace {

struct StandardAction {
    QWebEnginePage::WebAction action;
    int id;
};

const StandardAction kStandard[] = {
    {QWebEnginePage::Back, MENU_ID_BACK},
    {QWebEnginePage::Forward, MENU_ID_FORWARD},
    {QWebEnginePage::Reload, MENU_ID_RELOAD},
    {QWebEnginePage::ReloadAndBypassCache, MENU_ID_RELOAD_NOCACHE},
    {QWebEnginePage::Stop, MENU_ID_STOPLOAD},
    {QWebEnginePage::Undo, MENU_ID_UNDO},
    {QWebEnginePage::Redo, MENU_ID_REDO},
    {QWebEnginePage::Cut, MENU_ID_CUT},
    {QWebEnginePage::Copy, MENU_ID_COPY},
    {QWebEnginePage::Paste, MENU_ID_PASTE},
    {QWebEnginePage::Unselect, MENU_ID_DELETE},
    {QWebEnginePage::SelectAll, MENU_ID_SELECT_ALL},
    {QWebEnginePage::ViewSource, MENU_ID_VIEW_SOURCE},
};

int standardId(QWebEnginePage* page, QAction* action)
{
    if (!page)
        return 0;
    for (const StandardAction& s : kStandard)
        if (page->action(s.action) == action)
            return s.id;
    return 0;
}

QString label(const CefString& s)
{
    return QString::fromStdString(s.ToString());
}

} // namespace

QHash<int, QPointer<QAction>> SeedModelFromMenu(QMenu* menu, CefRefPtr<CefMenuModel> model)
{
    QHash<int, QPointer<QAction>> actions;
    if (!menu || !model)
        return actions;
    // The standard menu's actions belong to the page that made them.
    QWebEnginePage* page = nullptr;
    for (QAction* a : menu->actions())
        if ((page = qobject_cast<QWebEnginePage*>(a->parent())))
            break;
    bool pendingSeparator = false;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator()) {
            pendingSeparator = model->GetCount() > 0;
            continue;
        }
        const int id = standardId(page, a);
        if (!id || !a->isVisible())
            continue;
        if (pendingSeparator)
            model->AddSeparator();
        pendingSeparator = false;
        model->AddItem(id, CefString(a->text().remove(QLatin1Char('&')).toStdString()));
        model->SetEnabled(id, a->isEnabled());
        actions.insert(id, a);
    }
    return actions;
}

void FillMenuFromModel(QMenu* menu, CefRefPtr<CefMenuModel> model, const std::function<void(int)>& onCommand)
{
    menu->clear();
    if (!model)
        return;
    QHash<int, QActionGroup*> groups;
    const int count = model->GetCount();
    for (int i = 0; i < count; ++i) {
        const int id = model->GetCommandIdAt(i);
        switch (model->GetTypeAt(i)) {
        case MENUITEMTYPE_SEPARATOR:
            menu->addSeparator();
            break;
        case MENUITEMTYPE_SUBMENU: {
            QMenu* sub = menu->addMenu(label(model->GetLabelAt(i)));
            FillMenuFromModel(sub, model->GetSubMenuAt(i), onCommand);
            break;
        }
        case MENUITEMTYPE_COMMAND:
        case MENUITEMTYPE_CHECK:
        case MENUITEMTYPE_RADIO: {
            QAction* action = menu->addAction(label(model->GetLabelAt(i)));
            const auto type = model->GetTypeAt(i);
            if (type != MENUITEMTYPE_COMMAND) {
                action->setCheckable(true);
                action->setChecked(model->IsCheckedAt(i));
            }
            if (type == MENUITEMTYPE_RADIO) {
                const int group = model->GetGroupIdAt(i);
                QActionGroup*& g = groups[group];
                if (!g) {
                    g = new QActionGroup(menu);
                    g->setExclusive(true);
                }
                g->addAction(action);
            }
            action->setEnabled(model->IsEnabled(id));
            action->setVisible(model->IsVisible(id));
            QObject::connect(action, &QAction::triggered, menu, [onCommand, id]() { onCommand(id); });
            break;
        }
        default:
            break;
        }
    }
}

} // namespace cefqt
