#pragma once

// The product's version, as the about box, the package and tavrick --version show it.
inline constexpr char productVersion[] = "2.03c";
