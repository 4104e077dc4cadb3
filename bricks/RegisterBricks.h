#pragma once

// Registers the six brick classes by name for component streaming. Safe to call repeatedly.
void RegisterBricks();
