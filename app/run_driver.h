// One run of the game, from the start-up count of the database to the final key.
#pragma once

// Plays the whole run; returns the exit status of a normal end.
int runProgram();

// Prints the profile as it now stands, under the name line.
void printProfileSummary();
