#pragma once

#include <string>

namespace corvanasim {

// A small PNG cover for an image id: a two-colour square whose colours come from the id, so every item
// has its own recognisable cover.
std::string CoverPng(const std::string& imageId, int size = 64);

}  // namespace corvanasim
