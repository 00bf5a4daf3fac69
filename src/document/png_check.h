#pragma once
// A PNG file checked through to its end before the image library reads it.
// The library's PNG reader loses memory on every file it gives up on half
// way, so a file that would make it give up is refused here: chunks cut
// short or with a wrong checksum, a header the format does not allow, and
// image data that does not inflate to exactly the rows the header announces,
// each starting with a known filter.

#include <istream>
#include <string>

// Empty when the PNG file in `in` is sound, else the reason it is not.
std::string checkPngFile(std::istream& in);
