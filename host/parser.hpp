// The parser: recursive descent over the lexer's tokens into a Program. Binary operators are parsed
// by precedence climbing, from loosest to tightest:
//   || or  <  ^^ xor  <  && and  <  == != < <= > >=  <  |  <  ^  <  &  <  << >>  <  + -  <  * / div mod %
// then the prefix operators - + ! not ~. Bitwise operators bind tighter than comparisons, so
// `x & 1 == 0` reads as `(x & 1) == 0`.
#pragma once

#include <string_view>

#include "ast.hpp"

namespace ombrix::host {

// Parses a whole script; throws ScriptError at the first syntax error.
Program parse_program(std::string_view source);

}  // namespace ombrix::host
