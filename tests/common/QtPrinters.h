#pragma once

#include <QString>
#include <ostream>

// Lets GoogleTest print Qt texts in failure messages, line breaks made visible.
void PrintTo(const QString& text, std::ostream* os);
