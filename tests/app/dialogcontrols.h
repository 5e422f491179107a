#pragma once

#include "app/console/consoledialog.h"
#include "app/console/dialogcombobox.h"

#include <QLineEdit>

// The console's controls by template id, as the tests reach them.
template <typename T> T* controlOf(const app::ConsoleDialog& dialog, int id)
{
    return qobject_cast<T*>(dialog.control(id));
}

inline QLineEdit* editOf(const app::ConsoleDialog& dialog, int id)
{
    return controlOf<QLineEdit>(dialog, id);
}

inline app::DialogComboBox* comboOf(const app::ConsoleDialog& dialog, int id)
{
    return controlOf<app::DialogComboBox>(dialog, id);
}
