#pragma once

#include <memory>

#include "state/input.h"

// Takes ownership of the two sources. Returns 0 on success, 1 when a device is missing (after
// telling the user in a message box).
int createInput(std::unique_ptr<KeyboardSource> keyboard, std::unique_ptr<MouseSource> mouse);
void readMouse();
void readKeysAndApply();
void releaseInput();
KeyboardSource* keyboardSource();
