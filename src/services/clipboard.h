// The clipboard: text, a list of files or an image, shared with the desktop
// when there is one.
//
// The clipboard lives in the process and holds its contents as plain bytes
// and pixels, never as values, so the collector has nothing of it to see
// and what a reader changes in a value never changes the clipboard. When a
// graphical session and its tool exist (wl-copy and wl-paste under Wayland,
// xclip under X), every write is also handed to the tool and a read asks
// the tool first; a tool that is missing or fails leaves the process's own
// clipboard to answer.
#pragma once
#include "values/cell.h"

namespace kez::clipboard {

// The contents into `out`: a string!, a block! of file! values, an image!,
// or none! when the clipboard is empty.
Cell* read(Cell* out);
// Places a string!, a block! of file! values or an image!; none! (and an
// image without pixels) empties the clipboard. Any other value raises
// script invalid-arg. True when placed.
bool write(const Cell* value);

// `read-clipboard` and `write-clipboard`.
void make_routines();

}  // namespace kez::clipboard
