// Resource ids of the program. Controls carry their id as the Qt property "id"
// so that tests find them by it.
#pragma once

// The built-in sample photograph, resource type "JPG".
#define IDR_SAMPLE_JPG 132
