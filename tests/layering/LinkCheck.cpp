// Linked with every object of one folder's library and the libraries below it
// (tests/CMakeLists.txt): it builds only when that folder keeps the layer order.
int main() { return 0; }
