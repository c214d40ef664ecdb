#pragma once

// Calls of the global operator new so far in this process, for tests that check a steady state
// allocates nothing.
long allocationsSoFar();
