#pragma once
// Search thread pool (filled in with the playing engine).
void resizePool(int n);
