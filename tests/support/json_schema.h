#pragma once

#include <nlohmann/json.hpp>
#include <string>

/// Where `doc` breaks `schema`, a JSON Schema of the parts the check's
/// schema uses (type, const, enum, properties, required,
/// additionalProperties false, items, oneOf), as "at PATH: why"; empty
/// where it holds.
std::string schema_breach(const nlohmann::json& schema,
                          const nlohmann::json& doc,
                          const std::string& path = "");
