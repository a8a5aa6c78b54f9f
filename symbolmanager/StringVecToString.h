#pragma once
#include <string>
#include <vector>

// Joins the lines in order into Output, with nothing between or after them:
// each line already carries its own line end.
void StringVecToString(const std::vector<std::string>& Vec, std::string& Output);
