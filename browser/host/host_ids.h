#pragma once
// The names the browsers and the host manifests agree on.

namespace vt::host {

constexpr char kHostName[] = "de.vantortrans.host";
// Derived from the public "key" in browser/extension/manifest.json: the first
// 32 hex digits of the SHA-256 of the key, each digit written as 'a' + value.
constexpr char kChromiumExtensionId[] = "ihgjgmjpiniphoimmgebdelleofcoecg";
constexpr char kFirefoxExtensionId[] = "browser@vantortrans.de";

}  // namespace vt::host
