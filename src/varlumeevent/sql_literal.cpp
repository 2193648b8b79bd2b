#include "varlumeevent/sql_literal.h"

std::string sqlLiteral(const std::string& value) {
  std::string literal;
  literal.reserve(value.size() + 2);
  literal += '\'';
  for (char c : value) {
    if (c == '\'') literal += '\'';
    literal += c;
  }
  literal += '\'';
  return literal;
}
