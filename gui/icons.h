#pragma once

#include <wx/imaglist.h>
#include <wx/wx.h>

// The program's own pictures, drawn in code at the screen's size.
namespace gui {

enum class Picture { Root, Folder, Store, User, Done, Skipped, Failed, Info, Note };

// A square picture of `size` pixels.
wxBitmap DrawPicture(Picture p, int size);

// The list's image list, in the order of wizard::ListIcon (image 1 first).
wxImageList* MakeListImages(int size);

// The application icon (an envelope going into a store).
wxIconBundle AppIcons();

}  // namespace gui
