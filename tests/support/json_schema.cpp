#include "json_schema.h"

namespace {

/// Whether `doc` is of JSON Schema type `type`.
bool of_type(const nlohmann::json& doc, const std::string& type) {
  if (type == "object") return doc.is_object();
  if (type == "array") return doc.is_array();
  if (type == "string") return doc.is_string();
  if (type == "integer") return doc.is_number_integer();
  if (type == "number") return doc.is_number();
  if (type == "boolean") return doc.is_boolean();
  return type == "null" && doc.is_null();
}

}  // namespace

std::string schema_breach(const nlohmann::json& schema,
                          const nlohmann::json& doc, const std::string& path) {
  const std::string at = "at " + (path.empty() ? "/" : path) + ": ";
  if (schema.contains("oneOf")) {
    int held = 0;
    std::string why;
    for (const auto& choice : schema["oneOf"]) {
      const std::string breach = schema_breach(choice, doc, path);
      held += breach.empty();
      if (why.empty() || breach.size() < why.size()) why = breach;
    }
    if (held != 1) return held == 0 ? why : at + "more than one oneOf holds";
  }
  if (schema.contains("type")) {
    const auto& types = schema["type"];
    bool any = false;
    for (const auto& type : types.is_array() ? types : nlohmann::json{types})
      any = any || of_type(doc, type);
    if (!any) return at + "not " + types.dump();
  }
  if (schema.contains("const") && doc != schema["const"])
    return at + "not " + schema["const"].dump();
  if (schema.contains("enum") &&
      std::find(schema["enum"].begin(), schema["enum"].end(), doc) ==
          schema["enum"].end())
    return at + doc.dump() + " not one of " + schema["enum"].dump();
  if (doc.is_object()) {
    for (const auto& key : schema.value("required", nlohmann::json::array()))
      if (!doc.contains(key)) return at + "no key " + key.dump();
    const auto properties =
        schema.value("properties", nlohmann::json::object());
    for (const auto& [key, value] : doc.items()) {
      if (!properties.contains(key)) {
        if (schema.value("additionalProperties", true) == false)
          return at + "key " + key + " not in the schema";
        continue;
      }
      if (std::string why =
              schema_breach(properties[key], value, path + "/" + key);
          !why.empty())
        return why;
    }
  }
  if (doc.is_array() && schema.contains("items"))
    for (std::size_t i = 0; i < doc.size(); ++i)
      if (std::string why = schema_breach(schema["items"], doc[i],
                                          path + "/" + std::to_string(i));
          !why.empty())
        return why;
  return "";
}
