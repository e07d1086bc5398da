// The built-in sample photograph: resource type "JPG", id 132, embedded in the
// core (see core/CMakeLists.txt) and loaded by CPicture::LoadFromResource.
#pragma once

#define IDR_SAMPLE_JPG 132
