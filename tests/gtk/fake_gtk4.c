/* Stands for GTK 4 in a test process: the library refuses to load GTK 3 beside it. */
void gtk_window_set_child(void* window, void* child);
void gtk_window_set_child(void* window, void* child) {
    (void)window;
    (void)child;
}
