// Letters and comparisons of question and answer texts, which are Windows-1251
// bytes, one byte a character: what the checks that compare texts share.
#pragma once

#include <string>

// A Latin or Cyrillic letter.
bool isLetter(unsigned char byte);

// Lower case, with ё as е, so that a capital or a dropped dot makes no new word.
char foldLetter(unsigned char byte);

// The text in lower case with runs of blanks made one, for comparing.
std::string normalisedText(const char* text);
