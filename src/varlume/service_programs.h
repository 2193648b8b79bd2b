// Starting the four service programs from the program folder, in the order
// database, file, image, event: each without arguments, without waiting; one
// that cannot be started is passed over silently. They are never stopped.
#pragma once
#include <string>

// `programFolder` ends with "\".
void startServicePrograms(const std::string& programFolder);
