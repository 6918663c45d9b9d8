#pragma once

// The product as the window, the About dialog, the log banner and the update check name it.
constexpr const char *productName = "VQ Gateway";
constexpr const char *productVersion = "01.01.01";
