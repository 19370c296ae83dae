#pragma once

// The pictures of the main window's commands and of the settings tree's ticks, drawn in code.
// Only the indices are fixed; an index without a picture gives an empty icon.

#include <QIcon>
#include <QPixmap>

namespace vorlen::gui {

// The pictures' indices, fixed by the order of the image list the windows were designed with.
namespace MainImage {
inline constexpr int None = -1;
inline constexpr int Document = 0;
inline constexpr int AllExperts = 1;
inline constexpr int Folder = 2;
inline constexpr int Disk = 3;
inline constexpr int Magnifier = 4;
inline constexpr int StopAll = 5;
inline constexpr int NewExpert = 6;
inline constexpr int Cut = 7;
inline constexpr int Copy = 8;
inline constexpr int Paste = 9;
inline constexpr int Undo = 10;
inline constexpr int Redo = 11;
inline constexpr int Help = 12;
inline constexpr int Info = 13;
inline constexpr int Warning = 14;
inline constexpr int TileHorizontal = 15;
inline constexpr int TileVertical = 16;
inline constexpr int Cascade = 17;
inline constexpr int Exit = 18;
inline constexpr int Disconnect = 19;
inline constexpr int Connect = 20;
inline constexpr int Settings = 21;
inline constexpr int ConnDisIdle = 22;
inline constexpr int ConnDisConnected = 23;
} // namespace MainImage

inline constexpr int kMainImageCount = 24;

QPixmap MainPixmap(int index);
QIcon MainIcon(int index);

// The settings tree: 0 unticked, 1 ticked; -1 (root and groups) and anything else has none.
QIcon TreeIcon(int index);

} // namespace vorlen::gui
