// The information page of the driver window: five dialog items.
#pragma once

#include "host/text.h"

namespace tovi {

struct DriverInstance;

// Index of the item whose text is the error line.
constexpr unsigned kErrorLineItem = 2;

// Fills the five items with their placement, texts and codes.
void FillInfoPages(DriverInstance& driver);

// Replaces the error line's text (cut at 80 characters) and tells the host window.
void ShowErrorLine(DriverInstance& driver, host::Cap capacity, const char* text);

}  // namespace tovi
