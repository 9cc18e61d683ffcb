// A dynamically linked C++ program that prints one line.
#include <iostream>

int main() {
    std::cout << "hello\n";
    return 0;
}
