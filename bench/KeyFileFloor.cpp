// The floor of reading one desktop file: GKeyFile loading it, as the
// desktop-entry layer does, and handing out the raw Name, which any check
// of the Name must get from it (g_key_file_get_value returns a copy, while
// the key file still holds its value and its grown line buffer). Its peak
// memory is what GKeyFile needs for the file.

#include <glib.h>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    GKeyFile* keyFile = g_key_file_new();
    const gboolean loaded = g_key_file_load_from_file(keyFile, argv[1], G_KEY_FILE_KEEP_TRANSLATIONS, nullptr);
    g_free(g_key_file_get_value(keyFile, "Desktop Entry", "Name", nullptr));
    g_key_file_free(keyFile);
    return loaded ? 0 : 1;
}
