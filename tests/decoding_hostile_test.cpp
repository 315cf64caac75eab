// The hostile corpus through the decoder alone (the whole load is tested in
// the app's tests): each file fails or gives the picture it holds, and the
// process lives on. This is the part the sanitized CI run takes.

#include <gtest/gtest.h>

#include "hostile_corpus.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"

using namespace vistrel;

TEST(HostileFiles, EachDecodesToAFailureOrItsPicture) {
    const QStringList names = testing_support::HostileFiles();
    ASSERT_GE(names.size(), 20) << "the corpus is missing";
    for (int round = 0; round < 2; ++round) {
        for (const QString& name : names) {
            SCOPED_TRACE(name.toStdString());
            const DecodeResult result = DecodePicture(testing_support::HostileFolder().filePath(name), 0x00FFFFFF);
            const std::optional<QSize> picture = testing_support::HostilePicture(name);
            if (!picture) {
                EXPECT_FALSE(result);
                EXPECT_NE(result.error, DecodeError::EmptyName);
                EXPECT_NE(result.error, DecodeError::NotFound);
            } else {
                ASSERT_TRUE(result);
                EXPECT_EQ(result.surface->image().size(), *picture);
            }
        }
    }
}
