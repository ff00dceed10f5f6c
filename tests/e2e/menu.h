// SPDX-License-Identifier: MIT
// What the converter shows, as the end-to-end tests expect it.
#pragma once

#include <string>

inline const std::string kMenu =
    "Choose an option:\n"
    "1 For Fahrenheit To Celsius\n"
    "2 For Celsius To Fahrenheit\n"
    "3 For exit...\n";
