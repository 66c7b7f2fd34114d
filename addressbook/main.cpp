// Placeholder entry until the command loop lands.
int main() { return 1; }
