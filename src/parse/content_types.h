// The package's content types ("[Content_Types].xml"): what each part is.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace tabulon {

// The content type of every part the package names one for (its Override
// elements), by part name without the leading "/", decoded; part names
// compare ignoring ASCII case, as the package format wants, so the keys
// are lower-case.
std::unordered_map<std::string, std::string> scanContentTypes(std::string_view contentTypesXml);

// The content type's own name: "worksheet", "chartsheet", "dialogsheet",
// "macrosheet", "intlmacrosheet" and so on, from
// "application/vnd.openxmlformats-officedocument.spreadsheetml.chartsheet+xml".
std::string_view contentKind(std::string_view contentType);

}  // namespace tabulon
