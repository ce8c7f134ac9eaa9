#pragma once
struct Shape {
    int rows = 0;
};
bool shapeFits(const Shape &shape);
