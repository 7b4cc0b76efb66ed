#pragma once
// The fixed shapes of the time stamp texts, checked field by field.

#include <QString>

namespace vt::fuzz {

// The library's "hh:mm:ss AM mm/dd/yy" with its values in range (20 characters).
bool IsLibraryStampText(const char* text);

// "dd.mm.yyyy" and "hh:nn:ss" as they go into the barcode CSV.
bool IsCsvDate(const QString& date);
bool IsCsvTime(const QString& time);

}  // namespace vt::fuzz
