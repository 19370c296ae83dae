#pragma once

// Applying the settings dialog: what happens between the user's "Применить" and the settings
// record being marked as set. The dialog window only shows the values; the checks, the order in
// which values are copied and the subscription live here, so they can be tested without one.

#include "connections/GatewayRecords.h"
#include "settings/ConnectorSettings.h"
#include "settings/Settings.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

inline constexpr std::string_view kNoRouterPathText = "Не получен путь к роутеру!";
inline constexpr std::string_view kBadBufferSizeText =
    "Не правильно введен \"Размер буфера\" в настройках!";
// The names below end up on the router's command line and in the library loader, so anything
// but a plain file name is refused before either is reached.
inline constexpr std::string_view kQuotedInstallDirText =
    "Папка установки шлюза в реестре содержит кавычки, роутер не будет запущен!";
inline constexpr std::string_view kBadRouterNameText =
    "Имя роутера должно быть именем файла без пути, \"..\", кавычек и управляющих символов!";
inline constexpr std::string_view kBadLibraryNameText =
    "Имя библиотеки CGATE должно быть именем файла без пути, \"..\", кавычек и управляющих "
    "символов!";

// Whether a text reads as a signed 64-bit decimal integer: an optional sign and digits, nothing
// else, within range.
bool IsInt64Text(std::string_view text);

// What applying needs of the rest of the terminal.
struct TApplyTargets {
    TConnectorSettings* Settings = nullptr;
    // The gateway installation's executables folder from the registry (the connector's
    // GetCGRouterPath); empty when it cannot be read.
    std::function<std::string(const std::string& regKey, const std::string& regRecord)> RouterPath;
    // The market-data connection's listener table; null when there is no connection.
    TListeners* Listeners = nullptr;
    // Names the store's streams (and with it their count); empty when there is no store.
    std::function<void(const std::vector<std::string>&)> SetStreams;
    // Passes the "_CLT" choice to the store; may be empty.
    std::function<void(bool)> SetCLTFut;
};

// Copies an applied dialog into the settings record and builds the listener table, showing the
// error boxes of a failed check through Dialogs(). Returns true, with isSet true, when the
// settings are applied. `appPath` is the executable's folder with its trailing separator.
// On failure the values copied before the failing check stay in the record, as the user
// would find them after a second look at the dialog.
bool ApplyDialogValues(const TSettingsModel& dialog, const std::string& appPath,
                       const TApplyTargets& targets);

} // namespace vorlen
