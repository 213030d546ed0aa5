#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

/// The `parts` of a reason, joined: one call where many `+` would each
/// leave code of their own behind in a program that should stay small.
std::string words(std::initializer_list<std::string_view> parts);
